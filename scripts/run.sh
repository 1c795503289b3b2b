#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOX_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

echo "Built into $build/bin (media libraries linked in $build/bin/LibAV)."
echo "There is nothing to start yet: the converter program and its command-line front end are still to come."
