#!/usr/bin/env bash
# Sets up, builds and runs every test: the format check, then the suite plain, under ASan+UBSan
# and under TSan, then a short run of each fuzz target. Usage: scripts/test.sh [plain|address|thread|fuzz|format]...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

"$root/scripts/setup.sh"

check_format() {
  echo "== format check"
  git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror
}

build_and_test() {
  local flavour=$1 dir=build/$1 sanitize=""
  [[ $flavour == plain ]] || sanitize=$flavour
  echo "== $flavour build"
  cmake -S . -B "$dir" -G Ninja -DBRISEL_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $flavour tests"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error | tee "$dir/ctest.log"
  local total failed
  total=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$dir/ctest.log" | tail -n 1)
  failed=$(sed -n 's/.*passed, \([0-9]*\) tests failed out of.*/\1/p' "$dir/ctest.log" | tail -n 1)
  passed_total=$((passed_total + ${total:-0} - ${failed:-0}))
  failed_total=$((failed_total + ${failed:-0}))
}

fuzz_briefly() {
  echo "== fuzz targets (short runs)"
  local dir=build/fuzz
  cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DBRISEL_FUZZ=ON \
    -DBRISEL_TESTS=OFF -DBRISEL_BENCH=OFF >/dev/null
  cmake --build "$dir" -j "$jobs"
  local seconds=${BRISEL_FUZZ_SECONDS:-20}
  # The targets log through the service's logger: give them a home and temporary folder of their own.
  local scratch
  scratch=$(mktemp -d)
  mkdir -p "$scratch/home" "$scratch/tmp"
  for target in "$dir"/fuzz/*_fuzz; do
    [[ -x $target ]] || continue
    local corpus="fuzz/corpus/$(basename "$target")"
    mkdir -p "$dir/corpus-$(basename "$target")"
    echo "-- $(basename "$target") for ${seconds}s"
    HOME="$scratch/home" TMPDIR="$scratch/tmp" "$target" -max_total_time="$seconds" -print_final_stats=0 \
      "$dir/corpus-$(basename "$target")" $( [[ -d $corpus ]] && echo "$corpus" ) 2>&1 | tail -n 3
  done
  rm -rf "$scratch"
}

passed_total=0
failed_total=0
steps=("$@")
[[ ${#steps[@]} -gt 0 ]] || steps=(format plain address thread fuzz)
for step in "${steps[@]}"; do
  case $step in
    format) check_format ;;
    plain | address | thread) build_and_test "$step" ;;
    fuzz) fuzz_briefly ;;
    *) echo "test.sh: unknown step '$step'" >&2; exit 2 ;;
  esac
done
echo "== every step passed"
echo "tests: $passed_total passed, $failed_total failed"
