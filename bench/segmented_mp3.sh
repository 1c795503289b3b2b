#!/usr/bin/env bash
# One long file on every core: a 30-minute music-like 44100 Hz stereo WAV to MP3 with veloxc batch
# on one job, on JOBS jobs (the file encoded in segments at once) and with the lame program,
# alternating; prints the median wall times and their ratios, the peak memory, and for constant
# and variable bit rate how the joined file compares with the one-job file: size, decoded length
# (the libraries, mpg123 and GStreamer where installed, with any decoder warning), signal-to-noise
# overall and in the worst second.
#
# Usage: bench/segmented_mp3.sh [BUILD_DIR] [RUNS] [JOBS]
#   BUILD_DIR  a release build (default: build)
#   RUNS       runs of each (default: 5); JOBS: default 2
# Needs the Debian packages lame and time; mpg123 and gstreamer1.0-tools are used when present.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
jobs=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
veloxc=$build/bin/veloxc

# Accents every 600 frames of 1152 samples: a transient at each planned join.
"$build/bin/make_tone" "$work/music.wav" 1800 44100 2 music 15.673469

measure() { # name, command...: appends "seconds kilobytes" to $work/name.times
  local name=$1; shift
  rm -rf "$work/out-$name"
  /usr/bin/time -f "%e %M" -o "$work/one" "$@" >/dev/null 2>&1
  tail -n 1 "$work/one" >> "$work/$name.times"
}
for _ in $(seq "$runs"); do
  measure one "$veloxc" batch --quiet -b 128 -j 1 -o "$work/out-one" "$work/music.wav"
  measure many "$veloxc" batch --quiet -b 128 -j "$jobs" -o "$work/out-many" "$work/music.wav"
  measure lame lame -b 128 --noreplaygain "$work/music.wav" "$work/lame.mp3"
done

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
for name in one many lame; do
  printf '%-5s median %ss, peak RSS %s MiB\n' "$name" "$(cut -d' ' -f1 "$work/$name.times" | median)" \
    "$(( $(cut -d' ' -f2 "$work/$name.times" | sort -n | tail -1) / 1024 ))"
done
o=$(cut -d' ' -f1 "$work/one.times" | median)
m=$(cut -d' ' -f1 "$work/many.times" | median)
l=$(cut -d' ' -f1 "$work/lame.times" | median)
awk -v o="$o" -v m="$m" -v l="$l" -v j="$jobs" \
  'BEGIN { printf "speed-up on %d jobs: %.2f; %d jobs against lame: %.2f x its time\n", j, o / m, j, m / l }'

decoded() { # file: samples per decoder, and warnings
  if command -v mpg123 >/dev/null; then
    echo "  mpg123: $(( $(mpg123 -q -s "$1" 2>"$work/warn" | wc -c) / 4 )) samples, $(wc -l <"$work/warn") warning lines"
  fi
  if command -v gst-launch-1.0 >/dev/null; then
    gst-launch-1.0 -q filesrc location="$1" ! decodebin ! audioconvert ! audio/x-raw,format=S16LE \
      ! filesink location="$work/gst.raw" 2>"$work/warn" || true
    echo "  GStreamer: $(( $(stat -c %s "$work/gst.raw") / 4 )) samples, $(wc -l <"$work/warn") warning lines"
  fi
}
for mode in "-b 128" "-q 2"; do
  echo "== $mode"
  # shellcheck disable=SC2086
  "$veloxc" batch --quiet $mode -j 1 -o "$work/one-file" "$work/music.wav" >/dev/null
  # shellcheck disable=SC2086
  "$veloxc" batch --quiet $mode -j "$jobs" -o "$work/many-file" "$work/music.wav" >/dev/null
  for name in one many; do
    echo "$name job(s): $(stat -c %s "$work/$name-file/music.mp3") bytes"
    decoded "$work/$name-file/music.mp3"
  done
  "$build/bin/mp3_compare" "$work/music.wav" "$work/one-file/music.mp3" "$work/many-file/music.mp3" |
    sed "s|$work/||"
  rm -rf "$work/one-file" "$work/many-file"
done
