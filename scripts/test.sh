#!/usr/bin/env bash
# Builds every target and runs every test: the native build, the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, a short fuzzing run,
# and the Windows build with its tests under Wine. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"
export WINEDEBUG="${WINEDEBUG:--all}"
logdir=build/test-logs
mkdir -p "$logdir"
passed=0
failed=0
broken=()

# Adds the counts of a ctest run's closing line to the totals.
count_ctest() {
  local log=$1 line p f total
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  f=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  p=$((total - f))
  passed=$((passed + p))
  failed=$((failed + f))
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
  echo "=== $preset: test"
  ctest --preset "$preset" "$@" 2>&1 | tee "$logdir/$preset-ctest.log" | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
  count_ctest "$logdir/$preset-ctest.log"
  grep -q '100% tests passed' "$logdir/$preset-ctest.log" || broken+=("$preset")
}

run_preset linux
# Python cannot load a sanitized library without preloading the runtime.
run_preset sanitize -LE pyvisa

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
    else
      tail -n 30 "$logdir/$name.log"
      broken+=("$name"); failed=$((failed + 1))
    fi
  done
else
  tail -n 40 "$logdir/fuzz-build.log" "$logdir/fuzz-configure.log"
  broken+=("fuzz (build)"); failed=$((failed + 1))
fi

# The Windows tests run under Wine, in a 32-bit prefix of their own that is
# set up once before the tests start (the GUI tests set up their own display).
export WINEPREFIX="$PWD/build/wine-tests" WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.ready" ]; then
  echo "=== setting up the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1 && touch "$WINEPREFIX/.ready"
fi
run_preset windows-x86
wineserver -k 2>/dev/null || true

[ ${#broken[@]} -gt 0 ] && echo "failing: ${broken[*]}"
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
