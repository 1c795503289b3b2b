#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the desktop program velox; arguments go
# to it (media files to add to its list, --convert, --help). "scripts/run.sh veloxc ARGS..." starts
# the command-line converter instead (without arguments it shows its help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOX_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

if [ "${1:-}" = "veloxc" ]; then
  shift
  if [ $# -eq 0 ]; then
    set -- --help
  fi
  exec "$build/bin/veloxc" "$@"
fi
exec "$build/bin/velox" "$@"
