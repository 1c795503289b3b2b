#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build-asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELOX_SANITIZE=ON -DVELOX_BUILD_BENCH=OFF
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# A short pass of every fuzz target in its own clang build (scripts/fuzz.sh); VELOX_FUZZ_SECONDS sets
# the seconds per target, 0 leaves the pass out.
fuzz_seconds=${VELOX_FUZZ_SECONDS:-30}
if [ "$fuzz_seconds" -gt 0 ]; then
  scripts/fuzz.sh all "$fuzz_seconds"
fi
