#!/usr/bin/env bash
# Every output format on one 3-minute music-like 44100 Hz stereo WAV: veloxc batch on one job,
# the median wall time of RUNS runs, the output's size and its average bit rate.
#
# Usage: bench/formats.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a release build (default: build); RUNS: default 3
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
veloxc=$build/bin/veloxc
seconds=180

"$build/bin/make_tone" "$work/music.wav" $seconds 44100 2 music
# The formats as veloxc lists them when refusing one it does not know.
formats=$("$veloxc" batch -f '?' x 2>&1 | sed -n 's/.*--format is one of \(.*\), not.*/\1/p' | tr -d ,) || true

printf '%-6s %10s %12s %10s\n' format seconds bytes kbit/s
for format in $formats; do
  times=()
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/out"
    start=$(date +%s.%N)
    "$veloxc" batch -f "$format" -j 1 --no-segments --quiet -o "$work/out" "$work/music.wav" >/dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  median=$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  file=$(find "$work/out" -type f | head -n 1)
  bytes=$(stat -c %s "$file")
  printf '%-6s %10.2f %12d %10.1f\n' "$format" "$median" "$bytes" "$(echo "$bytes * 8 / 1000 / $seconds" | bc -l)"
done
