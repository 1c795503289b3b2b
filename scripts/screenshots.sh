#!/usr/bin/env bash
# Looks at the desktop program as a person would: starts it on a virtual display, adds two
# recordings made by the project's own fixtures, converts them and saves pictures of the window
# while they convert and after the run.
#
#   scripts/screenshots.sh [FOLDER]     pictures go to FOLDER (default: build/screenshots)
#
# VELOX_SCREENSHOT_BUILD names the build folder (default: build, the one scripts/run.sh uses).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=${VELOX_SCREENSHOT_BUILD:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOX_BUILD_TESTS=OFF
fi
cmake --build "$build" -j "$(nproc)" --target velox make_tone

out=${1:-$build/screenshots}
mkdir -p "$out"
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Two recordings long enough to be seen converting.
"$build/bin/make_tone" "$work/Morning Walk.wav" 600 44100 2
"$build/bin/make_tone" "$work/Evening Song.wav" 420 22050 1

# A display of its own: Xvfb picks a free number and tells it.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "screenshots: the virtual display did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

# The program in a folder of its own, beside the libraries, so that the settings file it reads and
# writes there (and the fallback one) are its own: the user's output folder is neither used nor changed.
mkdir "$work/bin"
cp "$build/bin/velox" "$work/bin/"
ln -s "$(realpath "$build/bin/LibAV")" "$work/bin/LibAV"
DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" \
  "$work/bin/velox" --convert --screenshot-during "$out/during.png" --screenshot "$out/after.png" \
  "$work/Morning Walk.wav" "$work/Evening Song.wav"

echo "screenshots: $out/during.png $out/after.png"
