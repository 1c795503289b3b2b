#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the program. Until the desktop
# program exists this is the command-line converter: without arguments it shows its help.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOX_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

if [ $# -eq 0 ]; then
  set -- --help
fi
exec "$build/bin/veloxc" "$@"
