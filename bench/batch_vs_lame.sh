#!/usr/bin/env bash
# veloxc batch on many short files and on a few long ones.
# 1. 1,000 one-second 44100 Hz stereo WAVs to MP3 at 128 kbit/s CBR: "veloxc batch -j 2" against
#    lame run on each file two at a time (xargs -P 2), alternating, medians of RUNS runs each.
# 2. 8 three-minute WAVs to MP3: "veloxc batch -j 2" against "-j 1", alternating, medians.
#
# Usage: bench/batch_vs_lame.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a release build (default: build), made with
#              cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build
#   RUNS       runs of each (default: 3)
# Needs the Debian package lame (apt-get install lame).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/short" "$work/long"
"$build/bin/make_tone" "$work/one.wav" 1 44100 2
for i in $(seq -w 1 1000); do cp "$work/one.wav" "$work/short/tone$i.wav"; done
"$build/bin/make_tone" "$work/three.wav" 180 44100 2
for i in $(seq 1 8); do cp "$work/three.wav" "$work/long/tone$i.wav"; done

source bench/timing.sh
lame_all() { find "$work/short" -name '*.wav' -print0 | xargs -0 -P 2 -I{} lame --quiet -b 128 {} "$work/lame/"'{}'.mp3; }

: > "$work/v.times"; : > "$work/l.times"; : > "$work/j2.times"; : > "$work/j1.times"
for _ in $(seq "$runs"); do
  rm -rf "$work/out" && seconds "$build/bin/veloxc" batch --quiet -b 128 -j 2 -o "$work/out" "$work/short" >> "$work/v.times"
  rm -rf "$work/lame" && mkdir -p "$work/lame$work/short" && seconds lame_all >> "$work/l.times"
  rm -rf "$work/out" && seconds "$build/bin/veloxc" batch --quiet -b 128 -j 2 -o "$work/out" "$work/long" >> "$work/j2.times"
  rm -rf "$work/out" && seconds "$build/bin/veloxc" batch --quiet -b 128 -j 1 -o "$work/out" "$work/long" >> "$work/j1.times"
done
v=$(median < "$work/v.times"); l=$(median < "$work/l.times")
j2=$(median < "$work/j2.times"); j1=$(median < "$work/j1.times")
echo "1000 one-second WAVs: veloxc batch -j 2 ${v}s, lame with xargs -P 2 ${l}s"
awk -v v="$v" -v l="$l" 'BEGIN { printf "  ratio veloxc/lame: %.3f (target at most 0.6)\n", v / l }'
awk -v v="$(median 2 < "$work/v.times")" -v l="$(median 2 < "$work/l.times")" \
  'BEGIN { printf "  processor time per file: veloxc %.2f ms, lame %.2f ms\n", v, l }'
echo "8 three-minute WAVs: -j 2 ${j2}s, -j 1 ${j1}s"
awk -v a="$j2" -v b="$j1" 'BEGIN { printf "  speed-up: %.2f (target at least 1.9)\n", b / a }'
