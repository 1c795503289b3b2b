#!/usr/bin/env bash
# Starts the program on a virtual X display with the output options window showing a video made
# here, and saves the window as a PNG picture:
#
#   scripts/options-screenshot.sh [PNG]      (default: options-window.png)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-options-window.png}")

scripts/install-deps.sh

# A build folder of its own unless VELOX_SCREENSHOT_BUILD names one that exists already.
build=${VELOX_SCREENSHOT_BUILD:-build-screenshot}
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build"
else
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOX_BUILD_BENCH=OFF -DVELOX_BUILD_EXAMPLES=OFF
fi
cmake --build "$build" --target velox app_make_clip -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip="$work/colour bands.avi"
"$build/bin/app_make_clip" "$clip" 10
xvfb-run -a -s "-screen 0 1600x1200x24" "$build/bin/velox" --options --screenshot "$out" -- "$clip"
echo "$out"
