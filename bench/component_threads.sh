#!/usr/bin/env bash
# Eight three-minute 44100 Hz stereo WAVs to MP3 at 128 kbit/s through the converter component:
# Start(2) (two workers) against Start(1) (one worker, one task after another; Start(0) would add
# its 100 ms start timer per task). Alternating runs; prints the median wall times, the speed-up
# and the peak memory (RSS) of the Start(2) runs against a process that only loaded the libraries.
#
# Usage: bench/component_threads.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a release build (default: build-rel), made with
#              cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOX_BUILD_TESTS=OFF
#              cmake --build build-rel --target component_threads_bench make_tone
#   RUNS       runs of each mode (default: 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-rel}
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

inputs=()
for i in $(seq 1 8); do
  "$build/bin/make_tone" "$work/in$i.wav" 180 44100 2
  inputs+=("$work/in$i.wav")
done
mkdir -p "$work/out"

value() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
"$build/bin/component_threads_bench" loaded > "$work/loaded"
for _ in $(seq "$runs"); do
  for threads in 1 2; do
    "$build/bin/component_threads_bench" run "$threads" "$work/out" "${inputs[@]}" >> "$work/run$threads"
    rm -f "$work/out"/*.mp3
  done
done

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
one=$(value seconds < "$work/run1" | median)
two=$(value seconds < "$work/run2" | median)
loaded=$(value peak_kib < "$work/loaded")
peak=$(value peak_kib < "$work/run2" | sort -n | tail -1)
echo "Start(1): median ${one}s; Start(2): median ${two}s"
awk -v a="$one" -v b="$two" 'BEGIN { printf "speed-up: %.2fx (target >= 1.9x)\n", a / b }'
echo "peak RSS: libraries loaded only $((loaded / 1024)) MiB ($loaded KiB);" \
  "Start(2) run $((peak / 1024)) MiB ($peak KiB); difference $(((peak - loaded) / 1024)) MiB" \
  "($((peak - loaded)) KiB, target <= 16 MiB)"
