#!/usr/bin/env bash
# Sets up, builds and runs every test: the format check and the check of the folders' include rules,
# then the suite plain, the Debian packages of the plain build (scripts/check_package.sh: lintian and a
# crash of the packaged tray application), the suite under ASan+UBSan and under TSan, then a short run
# of each fuzz target (side by side).
# Usage: scripts/test.sh [format|includes|plain|package|address|thread|fuzz]...
#        scripts/test.sh soak [N] [--flavour plain|address|thread]
#        scripts/test.sh repeat REGEX [N] [--flavour plain|address|thread]
# The soak builds one flavour (plain unless told) and runs the end-to-end cases N times (5 unless told)
# while every core is kept busy, then lists the cases that failed and how often.
# The repeat builds one flavour (plain unless told) and runs the cases whose names match REGEX (a ctest
# regular expression) N times (20 unless told), then lists the cases that failed: a case that fails
# one run in twenty would fail CI for everyone, so each changed case passes it in every flavour first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

"$root/scripts/setup.sh"

check_format() {
  echo "== format check"
  git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror
}

build_flavour() {
  local flavour=$1 dir=build/$1 sanitize=""
  [[ $flavour == plain ]] || sanitize=$flavour
  echo "== $flavour build"
  cmake -S . -B "$dir" -G Ninja -DBRISEL_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# ctest with the sanitizer options of the test runs; arguments go to ctest.
run_ctest() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest "$@"
}

build_and_test() {
  local flavour=$1 dir=build/$1
  build_flavour "$flavour"
  echo "== $flavour tests"
  run_ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error | tee "$dir/ctest.log"
  local total failed
  total=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$dir/ctest.log" | tail -n 1)
  failed=$(sed -n 's/.*passed, \([0-9]*\) tests failed out of.*/\1/p' "$dir/ctest.log" | tail -n 1)
  passed_total=$((passed_total + ${total:-0} - ${failed:-0}))
  failed_total=$((failed_total + ${failed:-0}))
}

# Runs every fuzz target for BRISEL_FUZZ_SECONDS (20) seconds, as many at once as there are cores, and
# prints each target's last lines in turn. Fails when a target found a crash.
fuzz_briefly() {
  echo "== fuzz targets (short runs, $jobs at once)"
  local dir=build/fuzz
  cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DBRISEL_FUZZ=ON \
    -DBRISEL_TESTS=OFF -DBRISEL_BENCH=OFF >/dev/null
  cmake --build "$dir" -j "$jobs"
  local seconds=${BRISEL_FUZZ_SECONDS:-20}
  # The targets log through the service's logger: each gets a home and temporary folder of its own.
  local scratch
  scratch=$(mktemp -d)
  local targets=()
  for target in "$dir"/fuzz/*_fuzz; do
    [[ -x $target ]] && targets+=("$target")
  done
  for target in "${targets[@]}"; do
    while (($(jobs -rp | wc -l) >= jobs)); do
      wait -n || true
    done
    local name corpus
    name=$(basename "$target")
    corpus="fuzz/corpus/$name"
    mkdir -p "$dir/corpus-$name" "$scratch/$name/home" "$scratch/$name/tmp"
    (
      status=0
      HOME="$scratch/$name/home" TMPDIR="$scratch/$name/tmp" "$target" -max_total_time="$seconds" \
        -print_final_stats=0 "$dir/corpus-$name" $([[ -d $corpus ]] && echo "$corpus") \
        >"$scratch/$name/out" 2>&1 || status=$?
      echo "$status" >"$scratch/$name/status"
    ) &
  done
  wait
  local crashed=()
  for target in "${targets[@]}"; do
    local name
    name=$(basename "$target")
    echo "-- $name for ${seconds}s"
    tail -n 3 "$scratch/$name/out"
    [[ $(cat "$scratch/$name/status" 2>/dev/null) == 0 ]] || crashed+=("$name")
  done
  rm -rf "$scratch"
  if ((${#crashed[@]} > 0)); then
    echo "fuzz: ${crashed[*]} found a crash (the reproducer is named in its lines above)" >&2
    return 1
  fi
}

# Keeps every core busy until stop_cpu_load; the EXIT trap stops it on every way out.
load_pids=()
start_cpu_load() {
  local core
  for ((core = 0; core < jobs; core++)); do
    # Each busy loop also ends by itself once this script is gone, however it ended.
    bash -c "while kill -0 $$ 2>/dev/null; do :; done" &
    load_pids+=($!)
  done
}
stop_cpu_load() {
  if ((${#load_pids[@]} > 0)); then
    kill "${load_pids[@]}" 2>/dev/null || true
    wait "${load_pids[@]}" 2>/dev/null || true
    load_pids=()
  fi
}

# Reads "[N] [--flavour plain|address|thread]" into `runs` and `flavour` (set to their defaults by
# the caller); `what` names the step in messages.
read_runs_and_flavour() {
  local what=$1
  shift
  while (($# > 0)); do
    case $1 in
      --flavour) flavour=${2:?--flavour needs plain, address or thread}; shift ;;
      --flavour=*) flavour=${1#--flavour=} ;;
      *[!0-9]* | "") echo "test.sh: $what takes a run count and --flavour, not '$1'" >&2; exit 2 ;;
      *) runs=$1 ;;
    esac
    shift
  done
  case $flavour in
    plain | address | thread) ;;
    *) echo "test.sh: unknown flavour '$flavour'" >&2; exit 2 ;;
  esac
  ((runs > 0)) || { echo "test.sh: $what needs at least one run" >&2; exit 2; }
}

# Prints, from a ctest log of repeated runs, each case that failed with its failures and runs, then
# "<what>: <cases> cases, <runs> runs".
summarise_runs() {
  local what=$1 log=$2 summary
  # Each run of a case leaves one result line: "Test #12: Name ....   Passed" or "....***Failed".
  summary=$(awk -v what="$what" '/Test +#[0-9]+: / {
                   line = $0; sub(/^.*Test +#[0-9]+: /, "", line); split(line, field, " ")
                   if (match(line, /\.\.\.+ *\**[A-Za-z][^ ]*/)) {
                     result = substr(line, RSTART, RLENGTH); gsub(/^[. *]+/, "", result)
                     runs[field[1]]++; if (result != "Passed") failed[field[1]]++
                   } }
                 END { for (name in runs) { cases++; total += runs[name]
                         if (failed[name]) printf "  %s: failed %d of %d runs\n", name, failed[name], runs[name] }
                       printf "%s: %d cases, %d runs\n", what, cases, total }' "$log" | sort)
  echo "$summary" | grep -v "^$what:" || true
  echo "$summary" | grep "^$what:"
}

# Builds `flavour` and runs the cases labelled end_to_end `runs` times (ctest --repeat until-fail)
# under a CPU load on every core. Prints each case that failed with its failures and runs.
soak() {
  local runs=5 flavour=plain
  read_runs_and_flavour soak "$@"
  build_flavour "$flavour"
  local dir=build/$flavour log=build/$flavour/soak.log status=0 started
  echo "== soak: the end-to-end cases, $runs runs each, $flavour, with $jobs busy processes"
  trap stop_cpu_load EXIT
  trap 'exit 130' INT TERM
  start_cpu_load
  started=$SECONDS
  run_ctest --test-dir "$dir" -L end_to_end --repeat until-fail:"$runs" -j "$jobs" \
    --output-on-failure --no-tests=error | tee "$log" || status=$?
  stop_cpu_load
  local elapsed=$((SECONDS - started))
  summarise_runs soak "$log"
  echo "soak: $flavour, $runs runs each, ${elapsed}s under load"
  if ((status != 0)); then
    echo "soak: failures above; the output of each failed run is in $log" >&2
    exit "$status"
  fi
  echo "== soak passed"
}

# Builds `flavour` and runs the cases matching a ctest regular expression `runs` times each (a case
# stops at its first failure). Prints each case that failed.
repeat_cases() {
  local pattern=${1:-}
  [[ -n $pattern ]] || { echo "test.sh: repeat needs a regular expression of case names" >&2; exit 2; }
  shift
  local runs=20 flavour=plain
  read_runs_and_flavour repeat "$@"
  build_flavour "$flavour"
  local dir=build/$flavour log=build/$flavour/repeat.log status=0
  echo "== repeat: the cases matching '$pattern', $runs runs each, $flavour"
  run_ctest --test-dir "$dir" -R "$pattern" --repeat until-fail:"$runs" -j "$jobs" \
    --output-on-failure --no-tests=error | tee "$log" || status=$?
  summarise_runs repeat "$log"
  if ((status != 0)); then
    echo "repeat: failures above; the output of each failed run is in $log" >&2
    exit "$status"
  fi
  echo "== repeat passed"
}

case ${1:-} in
  soak) shift; soak "$@"; exit 0 ;;
  repeat) shift; repeat_cases "$@"; exit 0 ;;
esac

passed_total=0
failed_total=0
steps=("$@")
[[ ${#steps[@]} -gt 0 ]] || steps=(format includes plain package address thread fuzz)
for step in "${steps[@]}"; do
  case $step in
    format) check_format ;;
    includes) echo "== include check"; "$root/scripts/check_includes.sh" ;;
    plain | address | thread) build_and_test "$step" ;;
    package) build_flavour plain; "$root/scripts/check_package.sh" build/plain ;;
    fuzz) fuzz_briefly ;;
    *) echo "test.sh: unknown step '$step'" >&2; exit 2 ;;
  esac
done
echo "== every step passed"
echo "tests: $passed_total passed, $failed_total failed"
