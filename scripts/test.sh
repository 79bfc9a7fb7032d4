#!/usr/bin/env bash
# Builds every target and runs every test: the native build, the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, a short fuzzing run,
# and both Windows builds with their tests under Wine: the x64 build on every
# machine, the x86 build where this machine runs 32-bit programs (elsewhere
# only its checks that read the files run). Ends with what ran and one
# summary line; a test that did not run is never counted as passed.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"
export WINEDEBUG="${WINEDEBUG:--all}"
logdir=build/test-logs
mkdir -p "$logdir"
passed=0
failed=0
skipped=0
broken=()
ran=()

# Adds the counts of a ctest run's closing line to the totals. ctest counts
# a skipped test among those out of N without failing it; those are counted
# as skipped, not passed.
count_ctest() {
  local log=$1 line p f s total
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  f=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  s=$(grep -cE '^[[:space:]]*[0-9]+ - .*\((Skipped|Not Run|Disabled)\)$' "$log")
  p=$((total - f - s))
  passed=$((passed + p))
  failed=$((failed + f))
  skipped=$((skipped + s))
}

# configure + build + test one preset; extra arguments go to ctest.
run_preset() {
  local preset=$1
  shift
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >"$logdir/$preset-configure.log" 2>&1; then
    tail -n 40 "$logdir/$preset-configure.log"
    broken+=("$preset (configure)"); failed=$((failed + 1)); return
  fi
  if ! cmake --build --preset "$preset" >"$logdir/$preset-build.log" 2>&1; then
    grep -E 'error|Error' "$logdir/$preset-build.log" | head -n 40
    broken+=("$preset (build)"); failed=$((failed + 1)); return
  fi
  [ -n "${what:-}" ] || return 0
  echo "=== $preset: test ($what)"
  if [ -n "${tests_in:-}" ]; then
    set -- --test-dir "build/$preset/$tests_in" --output-on-failure "$@"
  else
    set -- --preset "$preset" "$@"
  fi
  ctest "$@" 2>&1 | tee "$logdir/$preset-ctest.log" | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
  count_ctest "$logdir/$preset-ctest.log"
  if grep -q '100% tests passed' "$logdir/$preset-ctest.log"; then
    ran+=("$preset ($what)")
  else
    broken+=("$preset")
  fi
}

what="all tests" run_preset linux
# Python cannot load a sanitized library without preloading the runtime.
what="all but the PyVISA test" run_preset sanitize -LE pyvisa

echo "=== fuzz: build and short run"
if cmake --preset fuzz >"$logdir/fuzz-configure.log" 2>&1 \
   && cmake --build --preset fuzz >"$logdir/fuzz-build.log" 2>&1; then
  for fuzzer in build/fuzz/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus="build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds="fuzz/seeds/${name#fuzz_}"
    [ -d "$seeds" ] || seeds=""
    if "$fuzzer" -max_total_time=15 -timeout=10 -print_final_stats=1 "$corpus" $seeds \
         >"$logdir/$name.log" 2>&1; then
      echo "$name: $(grep -E 'stat::number_of_executed_units' "$logdir/$name.log" | tr -s ' ')"
      passed=$((passed + 1))
      ran+=("$name (15 s)")
    else
      tail -n 30 "$logdir/$name.log"
      broken+=("$name"); failed=$((failed + 1))
    fi
  done
else
  tail -n 40 "$logdir/fuzz-build.log" "$logdir/fuzz-configure.log"
  broken+=("fuzz (build)"); failed=$((failed + 1))
fi

# The Windows tests run under Wine, each build in a prefix of its own that is
# set up before its tests start (test discovery runs under Wine too, with a
# short timeout); the GUI tests set up their own display and prefix.
. scripts/wine_env.sh
prepare_prefix() {
  wine_use "$1" "$PWD/build/windows-$1/wine-prefix"
  echo "=== Wine prefix for windows-$1: $WINEPREFIX"
  # One wine server for the whole run instead of one per test program.
  WINE_PERSIST="" wine_prepare
}
stop_prefix() {
  WINEPREFIX="$PWD/build/windows-$1/wine-prefix" wineserver -k 2>/dev/null || true
}

if prepare_prefix x64; then
  what="all tests, 64-bit Wine" run_preset windows-x64
else
  broken+=("windows-x64 (Wine prefix)"); failed=$((failed + 1))
fi
stop_prefix x64

# Decided once, by running a 32-bit program: some kernels refuse them all.
x86_note=""
if wine_runs_x86; then
  if prepare_prefix x86; then
    what="all tests, 32-bit Wine" run_preset windows-x86
  else
    broken+=("windows-x86 (Wine prefix)"); failed=$((failed + 1))
  fi
  stop_prefix x86
else
  x86_note="x86 Windows tests under Wine not run: this machine cannot run 32-bit programs ($(wine_x86_refusal)); the x86 build was built and its file checks ran"
  # Only the checks that read the files: ctest would start every other test
  # program under Wine just to list its tests.
  what="file checks only" tests_in=tests/binaries run_preset windows-x86
fi

printf 'ran: %s\n' "$(IFS=';'; echo "${ran[*]}" | sed 's/;/; /g')"
[ -n "$x86_note" ] && echo "$x86_note"
[ ${#broken[@]} -gt 0 ] && echo "failing: ${broken[*]}"
echo "total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
