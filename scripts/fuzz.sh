#!/usr/bin/env bash
# Fuzzes with libFuzzer: builds the clang fuzz build if needed, writes the seed corpora and runs a target.
#
#   scripts/fuzz.sh TARGET SECONDS [LIBFUZZER_OPTION...]   fuzz TARGET for SECONDS
#   scripts/fuzz.sh all SECONDS                             each target for SECONDS, one after another
#   scripts/fuzz.sh TARGET FILE...                          run TARGET once on each FILE (replay a finding)
#
# Targets: options (option text), probe (media files), conversion (a whole run), record (the component's
# option records). The corpus grows in BUILD/fuzz-corpus/TARGET; inputs that break a rule land in
# BUILD/fuzz-findings/TARGET. The build folder is build-fuzz unless VELOX_FUZZ_BUILD names another.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

targets=(options probe conversion record)
usage() {
  sed -n '4,10p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
[ $# -ge 2 ] || usage
target=$1
shift
if [ "$target" != all ] && [[ ! " ${targets[*]} " == *" $target "* ]]; then
  echo "unknown target '$target' (one of: ${targets[*]} all)" >&2
  exit 2
fi

scripts/install-deps.sh

build=${VELOX_FUZZ_BUILD:-build-fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVELOX_FUZZ=ON \
    -DVELOX_BUILD_TESTS=OFF -DVELOX_BUILD_BENCH=OFF -DVELOX_BUILD_EXAMPLES=OFF
fi
cmake --build "$build" --target fuzzers -j "$(nproc)"

# The same checks as the test suite. Reports name source lines through llvm-symbolizer (package llvm).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:halt_on_error=1"

# Option text may name files relative to the current folder, and the targets keep the files of each
# case under TMPDIR: both go to a scratch folder of the target, emptied before each run.
prepare_scratch() {
  local scratch=$build/fuzz-work/$1
  rm -rf "$scratch"
  mkdir -p "$scratch/tmp"
  echo "$scratch"
}

dictionary_options() {
  case $1 in
    options | record) echo "-dict=$root/fuzz/options.dict" ;;
  esac
}

fuzz() {
  local name=$1 seconds=$2
  shift 2
  local corpus=$build/fuzz-corpus/$name findings=$build/fuzz-findings/$name
  local seeds=$build/fuzz/seeds/$name regressions=$root/fuzz/regressions/$name
  mkdir -p "$corpus" "$findings"
  local dirs=("$corpus" "$seeds")
  # Inputs of fixed findings run first, every time.
  [ -d "$regressions" ] && dirs+=("$regressions")
  local scratch
  scratch=$(prepare_scratch "$name")
  local log=$build/fuzz-work/$name.log stamp=$build/fuzz-work/$name.start
  touch "$stamp"
  echo "== fuzz_$name for ${seconds}s (corpus $corpus)"
  local status=0
  (cd "$scratch" && TMPDIR=$scratch/tmp nice -n 10 "$build/bin/fuzz_$name" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -report_slow_units=5 -print_final_stats=1 \
    -artifact_prefix="$findings/" $(dictionary_options "$name") "$@" "${dirs[@]}") >"$log" 2>&1 || status=$?
  local runs rate kept
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  # libFuzzer's own count: the inputs that each add coverage, of all the files in the corpus folder.
  kept=$(grep -E '^#[0-9]+[[:space:]]+(DONE|INITED|NEW|REDUCE|pulse)' "$log" | tail -1 | sed -n 's/.* corp: \([^ ]*\).*/\1/p')
  echo "   runs ${runs:-?}, ${rate:-?} exec/s, corpus ${kept:-?} in use of $(find "$corpus" -type f | wc -l) files" \
    "($(du -sk "$corpus" | cut -f1) KiB)"
  # Inputs that took more than 5 s: no failure, but worth a look (a small file should not cost that).
  local slow
  slow=$(find "$findings" -name 'slow-unit-*' -newer "$stamp" | wc -l)
  [ "$slow" -eq 0 ] || echo "   $slow slow inputs saved in $findings"
  if [ $status -ne 0 ]; then
    grep -E '^(==[0-9]+==ERROR|SUMMARY|==velox fuzz finding==)|runtime error|Test unit written' "$log" >&2 || true
    echo "fuzz_$name found a problem (exit $status); log: $log" >&2
    echo "replay with: scripts/fuzz.sh $name FILE (the file named above)" >&2
    return 1
  fi
}

replay() {
  local name=$1
  shift
  local files=()
  for f in "$@"; do
    case $f in /*) files+=("$f") ;; *) files+=("$root/$f") ;; esac
  done
  local scratch
  scratch=$(prepare_scratch "$name")
  cd "$scratch" && TMPDIR=$scratch/tmp "$build/bin/fuzz_$name" "${files[@]}"
}

if [[ $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
  if [ "$target" = all ]; then
    failed=0
    for t in "${targets[@]}"; do
      fuzz "$t" "$seconds" "$@" || failed=1
    done
    exit $failed
  fi
  fuzz "$target" "$seconds" "$@"
else
  [ "$target" != all ] || usage
  replay "$target" "$@"
fi
