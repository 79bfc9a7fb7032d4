#!/usr/bin/env bash
# Builds the benchmarks and prints their figures: the real-time pacing of an
# image and a package transfer (ratio to the minimum, overshoot per pause,
# processor share), natively and for every Windows build preset under Wine;
# the peak memory of a 1 MiB and a 64 MiB image transfer on virtual time; and
# the pause accuracy of the real clock. Figures never make it fail; only a
# build or a transfer that does not complete does.
set -uo pipefail
cd "$(dirname "$0")/.."

export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
build=${METERLOAD_BENCH_BUILD:-build/bench}
status=0

# configure DIR ARGS...: a Release build of the benchmarks without the tests.
configure() {
  local dir=$1
  shift
  cmake "$@" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DMETERLOAD_BENCH=ON -DMETERLOAD_TESTS=OFF \
    >"$dir.configure.log" 2>&1 || { tail -n 30 "$dir.configure.log"; return 1; }
}

# compile DIR TARGETS...
compile() {
  local dir=$1
  shift
  cmake --build "$dir" -j2 --target "$@" zqsim >"$dir.build.log" 2>&1 \
    || { grep -E 'error' "$dir.build.log" | head -n 30; return 1; }
}

mkdir -p "$(dirname "$build")"
configure "$build" -S . -G Ninja || exit 1
compile "$build" meterload_bench_time meterload_bench_memory meterload_clock_pace || exit 1

echo "== pacing (real time, native: $(uname -m), $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
"$build/bench/meterload_bench_time" 1.005 || status=1

echo "== peak memory (virtual time, one process per size)"
small=$("$build/bench/meterload_bench_memory" 1) || status=1
echo "$small"
large=$("$build/bench/meterload_bench_memory" 64) || status=1
echo "$large"
kib() { sed -nE 's/.*peak_rss_kib=([0-9]+).*/\1/p' <<<"$1"; }
if [ -n "$(kib "$small")" ] && [ -n "$(kib "$large")" ]; then
  diff=$(( $(kib "$large") - $(kib "$small") ))
  verdict=met
  [ "${diff#-}" -gt 1024 ] && verdict=MISSED
  echo "peak difference 64 MiB - 1 MiB: ${diff} KiB (target: within 1024 KiB: $verdict)"
fi

echo "== pause accuracy of the real clock (native)"
"$build/bench/meterload_clock_pace" || status=1

# The Windows builds under Wine, one per Windows preset, each run by the
# emulator its toolchain names. Wine's timers wake later than Linux's, and a
# default Windows timer would round every pause up to a 15.6 ms tick.
command -v wine >/dev/null 2>&1 || { echo "== Windows builds: skipped (no Wine)"; exit $status; }
presets=$(cmake --list-presets 2>/dev/null | sed -nE 's/^ *"(windows-[^"]*)".*/\1/p')
for preset in $presets; do
  dir=${build}-$preset
  if ! configure "$dir" --preset "$preset" \
     || ! compile "$dir" meterload_bench_time meterload_clock_pace; then
    echo "== $preset: the build failed"
    status=1
    continue
  fi
  # The toolchain file names the emulator (a list: blanks between its words)
  # and the processor; neither is cached.
  toolchain=$(sed -nE 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=(.*)/\1/p' "$dir/CMakeCache.txt")
  printf 'include("%s")\nmessage("${CMAKE_CROSSCOMPILING_EMULATOR}|${CMAKE_SYSTEM_PROCESSOR}")\n' \
    "$toolchain" >"$dir.toolchain.cmake"
  settings=$(cmake -P "$dir.toolchain.cmake" 2>&1 | tail -n 1)
  emulator=${settings%%|*}
  emulator=${emulator//;/ }
  processor=${settings##*|}
  arch=win64
  [[ "$processor" =~ ^(x86|i[3-6]86)$ ]] && arch=win32
  export WINEPREFIX="$PWD/build/bench-wine-$arch" WINEARCH=$arch
  mkdir -p "$WINEPREFIX"
  # Whether this machine runs the build at all (32-bit Windows programs need
  # 32-bit Wine) shows by running its first benchmark.
  if ! pace=$(timeout 300 ${emulator:-wine} "$dir/bench/meterload_clock_pace.exe" 2>"$dir.run.log"); then
    echo "== $preset: skipped, its programs do not run under Wine here ($(head -c 200 "$dir.run.log" | tr '\n' ' '))"
    continue
  fi
  echo "== pacing (real time, $preset under $(${emulator:-wine} --version 2>/dev/null || echo Wine))"
  ${emulator:-wine} "$dir/bench/meterload_bench_time.exe" 1.01 || status=1
  echo "== pause accuracy of the real clock ($preset under Wine)"
  echo "$pace"
done
exit $status
