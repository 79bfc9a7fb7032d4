#!/usr/bin/env bash
# Builds every target and runs every test: the native build, its Debian
# package with the fleet playbooks, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the simulator's tests under ThreadSanitizer, a
# short fuzzing run, and both Windows builds (programs, installers, zips) with
# their tests under Wine: the x64 build on every machine, the x86 build
# natively where the kernel runs 32-bit programs, else under qemu-user
# (scripts/qemu_i386.sh), else only its checks that read the files (PE
# format, manifests, installer and zip). Ends with what ran, how the x86
# build's tests ran, each stage's time and one summary line; a test that did
# not run is never counted as passed.
#
# Usage: test.sh [STAGE...]  runs only those stages (after the setup), e.g.
# `bash scripts/test.sh windows-x86`; the stages are linux, deb, sanitize,
# tsan, fuzz, windows-x64 and windows-x86.
set -uo pipefail
cd "$(dirname "$0")/.."

all_stages=(linux deb sanitize tsan fuzz windows-x64 windows-x86)
for name in "$@"; do
  [[ " ${all_stages[*]} " == *" $name "* ]] || { echo "test.sh: no stage '$name' (${all_stages[*]})"; exit 2; }
done
chosen=("$@")
# want STAGE: whether this run runs that stage.
want() {
  [ ${#chosen[@]} -eq 0 ] || [[ " ${chosen[*]} " == *" $1 "* ]]
}

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

# stage TEXT: announces a stage, with the time since the start of the run, so
# that a slow run shows where its time went. The time until the next one is
# added to the stage named by TEXT's first word, for the summary.
stage_names=()
declare -A stage_seconds=()
current_stage="" current_since=0
stage() {
  echo "=== $* [$((SECONDS / 60)) min $((SECONDS % 60)) s]"
  stage_end
  current_stage=${1%%:*} current_since=$SECONDS
  [[ " ${stage_names[*]} " == *" $current_stage "* ]] || stage_names+=("$current_stage")
}
stage_end() {
  [ -n "$current_stage" ] || return 0
  stage_seconds[$current_stage]=$(( ${stage_seconds[$current_stage]:-0} + SECONDS - current_since ))
  current_stage=""
}
stage_times() {
  local name out=()
  for name in "${stage_names[@]}"; do
    out+=("$name $((stage_seconds[$name] / 60)) min $((stage_seconds[$name] % 60)) s")
  done
  (IFS=';'; echo "${out[*]}" | sed 's/;/; /g')
}
stage "setup done"
stage_names=(setup) stage_seconds[setup]=$SECONDS current_stage=""

export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"
export WINEDEBUG="${WINEDEBUG:--all}"
logdir=build/test-logs
mkdir -p "$logdir"
passed=0
failed=0
skipped=0
broken=()
ran=()
flaky=()
tsan_note=""
rm -f "$logdir/failures.txt"

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

# configure + build + test one preset; extra arguments go to ctest. Set
# `targets` to build only those, `tests_in` to run only the tests of that
# folder of the build.
run_preset() {
  local preset=$1
  shift
  stage "$preset: configure and build"
  if ! cmake --preset "$preset" >"$logdir/$preset-configure.log" 2>&1; then
    tail -n 40 "$logdir/$preset-configure.log"
    broken+=("$preset (configure)"); failed=$((failed + 1)); return
  fi
  if ! cmake --build --preset "$preset" ${targets:+--target $targets} >"$logdir/$preset-build.log" 2>&1; then
    grep -E 'error|Error' "$logdir/$preset-build.log" | head -n 40
    broken+=("$preset (build)"); failed=$((failed + 1)); return
  fi
  [ -n "${what:-}" ] || return 0
  stage "$preset: test ($what)"
  if [ -n "${tests_in:-}" ]; then
    set -- --test-dir "build/$preset/$tests_in" --output-on-failure "$@"
  else
    set -- --preset "$preset" "$@"
  fi
  local log="$logdir/$preset-ctest.log"
  # `runner`: what runs the tests, ctest unless set.
  ${runner:-ctest} "$@" 2>&1 | tee "$log" | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
  if ! grep -q '100% tests passed' "$log" && grep -qE 'tests passed, [0-9]+ tests? failed' "$log"; then
    # Tests under Wine share two cores with everything else; a test that
    # fails under that load is run once more on its own. Its first output is
    # kept for the end of the run, and it is named there either way.
    failure_blocks "$log" >>"$logdir/failures.txt"
    stage "$preset: the failed tests once more"
    ${runner:-ctest} "$@" --rerun-failed -j1 2>&1 | tee "$log.again" | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
    if grep -q '100% tests passed' "$log.again"; then
      flaky+=("$preset: $(failed_names "$log" | paste -sd, -)")
      # The closing line of the first run, with its failures counted as passed.
      sed -E 's/[0-9]+% tests passed, [0-9]+ (tests?) failed/100% tests passed, 0 \1 failed/' "$log" >"$log.counted"
      log="$log.counted"
    else
      failure_blocks "$log.again" >>"$logdir/failures.txt"
      # The first run's passes, and the second run's verdict on the rest.
      local failed_before=$failed
      count_ctest "$log"
      failed=$failed_before
      count_ctest "$log.again"
      broken+=("$preset"); return
    fi
  fi
  count_ctest "$log"
  if grep -q '100% tests passed' "$log"; then
    ran+=("$preset ($what)")
  else
    broken+=("$preset")
  fi
}

# What the linux run did with the USB transport's tests on the emulated bus
# (label usb): how many ran, and how many could not (umockdev missing or
# refusing to start), which are counted as skipped above.
usb_summary() {
  local log="$logdir/linux-ctest.log" names total not_run
  [ -f "$log" ] || return 0
  names=$(ctest --test-dir build/linux -N -L usb 2>/dev/null | sed -nE 's/^ *Test +#[0-9]+: (.*)$/\1/p')
  total=$(grep -c . <<<"$names")
  not_run=$(sed -n '/The following tests did not run:/,/^$/p' "$log" \
    | sed -nE 's/^[[:space:]]*[0-9]+ - (.*) \((Skipped|Not Run|Disabled)\)$/\1/p' | grep -cxF -f <(printf '%s\n' "$names"))
  echo "emulated USB tests (label usb) in the linux run: $((total - not_run)) ran, $not_run not run"
}

# The names of the tests that a ctest log lists as failed.
failed_names() {
  sed -n '/The following tests FAILED:/,$p' "$1" | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+).*\((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception|Child aborted|OTHER_FAULT)\)$/\1/p'
}

# Each failed test's line and the output that ctest printed after it.
failure_blocks() {
  awk '/\*\*\*(Failed|Timeout|Exception)|\(Failed\)|Subprocess aborted|SEGFAULT/ && /Test +#/ {on = 1; n = 0}
       on && (/^ +Start +[0-9]+:/ || (/^ *[0-9]+\/[0-9]+ Test +#/ && n > 0)) {on = 0}
       on && n < 80 {print; n++}' "$1"
}

if want linux; then
  what="all tests" run_preset linux
  usb_note=$(usb_summary)
fi

# The Debian package from the linux build: lintian, its exact files and
# fields, the program and manual page unpacked from it, and the example
# playbooks run with it against two local bench PCs. Its checks are a ctest
# project of their own, so that no other test run unpacks a package.
if want deb; then
stage "deb: package and its checks"
if cmake --build --preset linux --target package >"$logdir/deb-package.log" 2>&1 \
   && cmake -S tests/packaging -B build/linux-package -DMETERLOAD_BUILD_DIR="$PWD/build/linux" \
        >"$logdir/deb-configure.log" 2>&1; then
  ctest --test-dir build/linux-package --output-on-failure 2>&1 \
    | tee "$logdir/deb-ctest.log" | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
  count_ctest "$logdir/deb-ctest.log"
  if grep -q '100% tests passed' "$logdir/deb-ctest.log"; then
    ran+=("deb (package, lintian, unpacked program, manual page, Ansible plays)")
  else
    failure_blocks "$logdir/deb-ctest.log" >>"$logdir/failures.txt"
    broken+=("deb")
  fi
else
  tail -n 40 "$logdir/deb-package.log" "$logdir/deb-configure.log"
  broken+=("deb (package)"); failed=$((failed + 1))
fi
fi
# Python cannot load a sanitized library without preloading the runtime.
want sanitize && what="all but the PyVISA test" run_preset sanitize -LE pyvisa

# The simulator under ThreadSanitizer: only its library and its tests (the
# threads it serves at once are its own concern), in a tree of their own.
if want tsan; then
stage "tsan: simulator tests under ThreadSanitizer"
tsan_flags="-fsanitize=thread"
if cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMETERLOAD_BENCH=OFF \
     -DCMAKE_C_FLAGS="$tsan_flags" -DCMAKE_CXX_FLAGS="$tsan_flags" \
     -DCMAKE_EXE_LINKER_FLAGS="$tsan_flags" -DCMAKE_SHARED_LINKER_FLAGS="$tsan_flags" \
     >"$logdir/tsan-configure.log" 2>&1 \
   && cmake --build build/tsan --target sim_tests zqsim >"$logdir/tsan-build.log" 2>&1; then
  # ThreadSanitizer needs a fixed memory layout; kernels that randomise
  # mappings more widely than it expects make it refuse to start, so its
  # tests run with the address randomisation off.
  no_aslr=()
  setarch "$(uname -m)" -R true 2>/dev/null && no_aslr=(setarch "$(uname -m)" -R)
  "${no_aslr[@]}" ctest --test-dir build/tsan/tests/sim --output-on-failure -LE pyvisa 2>&1 \
    | tee "$logdir/tsan-ctest.log" | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
  if grep -q 'ThreadSanitizer: unexpected memory mapping' "$logdir/tsan-ctest.log"; then
    tsan_note="simulator tests under ThreadSanitizer not run: it cannot start on this kernel ($(grep -m1 'ThreadSanitizer: unexpected' "$logdir/tsan-ctest.log"))"
  else
    count_ctest "$logdir/tsan-ctest.log"
  fi
  if [ -n "$tsan_note" ]; then
    :
  elif grep -q '100% tests passed' "$logdir/tsan-ctest.log"; then
    ran+=("tsan (simulator tests)")
  else
    failure_blocks "$logdir/tsan-ctest.log" >>"$logdir/failures.txt"
    broken+=("tsan")
  fi
else
  grep -E 'error|Error' "$logdir/tsan-build.log" "$logdir/tsan-configure.log" | head -n 40
  broken+=("tsan (build)"); failed=$((failed + 1))
fi
fi

if want fuzz; then
stage "fuzz: build and short run"
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
fi

# The Windows tests run under Wine, each build in a prefix of its own that is
# set up before its tests start (test discovery runs under Wine too, with a
# short timeout); the GUI tests set up their own display and prefix.
. scripts/wine_env.sh
# prepare_prefix ARCH [WRAPPER...]: the build's prefix, its wine server kept
# running for the whole stage instead of one per test program. WRAPPER is
# what 32-bit programs need to run here, if anything.
prepare_prefix() {
  local arch=$1
  shift
  stage "windows-$arch: Wine prefix build/windows-$arch/wine-prefix"
  # Its settings for the tests, as for every Wine program of the stage.
  wine_use "$arch" "$PWD/build/windows-$arch/wine-prefix"
  "$@" bash -c '. scripts/wine_env.sh && wine_use "$1" "$2" && WINE_PERSIST="" wine_prepare' \
    _ "$arch" "$PWD/build/windows-$arch/wine-prefix"
}
stop_prefix() {
  local arch=$1
  shift
  WINEPREFIX="$PWD/build/windows-$arch/wine-prefix" "$@" wineserver -k 2>/dev/null || true
}
# windows_stage ARCH WHAT [WRAPPER...]: the build's prefix, then its build
# and tests, then its wine server stopped. With a WRAPPER (qemu_i386.sh),
# each test program runs once for all its cases (ctest_batched.py).
windows_stage() {
  local arch=$1 description=$2
  shift 2
  if ! prepare_prefix "$arch" "$@"; then
    broken+=("windows-$arch (Wine prefix)"); failed=$((failed + 1))
  elif [ $# -gt 0 ]; then
    what=$description runner="$* python3 scripts/ctest_batched.py" tests_in=. run_preset "windows-$arch"
  else
    what=$description run_preset "windows-$arch"
  fi
  stop_prefix "$arch" "$@"
}

want windows-x64 && windows_stage x64 "all tests, 64-bit Wine"

# Decided once, by running the 32-bit Wine loader: natively where the kernel
# runs 32-bit programs; else under qemu-user, in a binfmt_misc instance of a
# user namespace of its own, where each program start costs a second or more
# of emulation, so each test program runs once with all its cases; else only
# the checks that read the files.
x86_note=""
if want windows-x86; then
  x86_way=$(wine_x86_way)
  stage "windows-x86: 32-bit programs run here: $x86_way"
  case $x86_way in
    native)
      windows_stage x86 "all tests, 32-bit Wine"
      x86_note="x86 Windows tests ran natively (32-bit Wine)"
      ;;
    qemu)
      windows_stage x86 "all tests, 32-bit Wine under qemu-user, each test program started once" \
        bash scripts/qemu_i386.sh
      x86_note="x86 Windows tests ran under qemu-user ($(/usr/bin/qemu-i386-static --version | head -n 1)), this kernel refusing 32-bit programs ($(wine_x86_refusal)); each test program was started once for all its cases"
      ;;
    *)
      x86_note="x86 Windows tests under Wine not run: this machine cannot run 32-bit programs (${x86_way#none: }); its programs, simulated library and packages were built and their file checks ran"
      # Only the checks that read the files, so only what they read is built:
      # ctest would start every other test program under Wine just to list its
      # tests.
      what="file checks only" tests_in=tests/binaries targets="meterload meterload-cli zqsim windows_packages" \
        run_preset windows-x86
      ;;
  esac
fi
stage_end

if [ -s "$logdir/failures.txt" ]; then
  echo "=== output of the tests that failed (also in $logdir/failures.txt)"
  cat "$logdir/failures.txt"
fi
[ ${#flaky[@]} -gt 0 ] && printf 'failed once, passed when run again: %s\n' "$(IFS=';'; echo "${flaky[*]}" | sed 's/;/; /g')"
echo "time: $((SECONDS / 60)) min $((SECONDS % 60)) s"
echo "stage times: $(stage_times)"
printf 'ran: %s\n' "$(IFS=';'; echo "${ran[*]}" | sed 's/;/; /g')"
[ -n "$x86_note" ] && echo "$x86_note"
[ -n "$tsan_note" ] && echo "$tsan_note"
[ -n "${usb_note:-}" ] && echo "$usb_note"
[ ${#broken[@]} -gt 0 ] && echo "failing: ${broken[*]}"
echo "total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
