#!/usr/bin/env bash
# WAV to MP3 at 128 kbit/s CBR: veloxc against the lame program on the same 10-minute
# 44100 Hz stereo WAV, alternating, several runs each; prints the median wall times, their ratio
# and the peak memory (RSS) of each. The peak of a veloxc run that stops right after loading the
# libraries (its input does not exist) shows how much of veloxc's peak is the libraries themselves.
#
# Usage: bench/mp3_vs_lame.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a release build (default: build), made with
#              cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build
#   RUNS       runs of each program (default: 5)
# Needs the Debian packages lame and time (apt-get install lame time).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bin/make_tone" "$work/tone.wav" 600 44100 2

measure() { # name, command...: appends "seconds kilobytes" to $work/name.times
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/one" "$@" >/dev/null 2>&1 || [ "$name" = loaded ]
  tail -n 1 "$work/one" >> "$work/$name.times" # time notes a failure on a line of its own
}
measure loaded "$build/bin/veloxc" convert "$work/missing.wav" "$work/none.mp3" --verbose 0
for _ in $(seq "$runs"); do
  measure veloxc "$build/bin/veloxc" convert "$work/tone.wav" "$work/veloxc.mp3" --verbose 0 --out ab=128000
  measure lame lame -b 128 -q 3 --noreplaygain "$work/tone.wav" "$work/lame.mp3"
done

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
v=$(cut -d' ' -f1 "$work/veloxc.times" | median)
l=$(cut -d' ' -f1 "$work/lame.times" | median)
vm=$(cut -d' ' -f2 "$work/veloxc.times" | sort -n | tail -1)
lm=$(cut -d' ' -f2 "$work/lame.times" | sort -n | tail -1)
echo "veloxc: median ${v}s, peak RSS $((vm / 1024)) MiB"
echo "lame:   median ${l}s, peak RSS $((lm / 1024)) MiB"
loaded=$(cut -d' ' -f2 "$work/loaded.times")
echo "veloxc with the libraries loaded and no conversion: peak RSS $((loaded / 1024)) MiB;" \
  "the conversion adds $(((vm - loaded) / 1024)) MiB"
awk -v v="$v" -v l="$l" 'BEGIN { printf "ratio veloxc/lame: %.3f\n", v / l }'
