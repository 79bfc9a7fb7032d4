#!/usr/bin/env bash
# Builds the benchmarks and prints their figures: the real-time pacing of an
# image and a package transfer (ratio to the minimum, overshoot per pause,
# processor share), natively and for every Windows build preset under Wine;
# the USB library's pace on an emulated bus, one meter and 16 at once;
# eight instruments updated at once by meterload-cli (ratio to one
# instrument's minimum, processor share, peak memory), natively;
# the peak memory of a 1 MiB and a 64 MiB image transfer on virtual time; and
# the pause accuracy of the real clock. Figures never make it fail; only a
# build or a transfer that does not complete does.
set -uo pipefail
cd "$(dirname "$0")/.."

build=${METERLOAD_BENCH_BUILD:-build/bench}
status=0

# configure DIR ARGS...: a Release build of the benchmarks, without the tests
# unless ARGS turn them on (later settings win).
configure() {
  local dir=$1
  shift
  cmake -B "$dir" -DCMAKE_BUILD_TYPE=Release -DMETERLOAD_BENCH=ON -DMETERLOAD_TESTS=OFF "$@" \
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
# Natively with the tests' targets configured (none of them is built): the
# USB benchmark drives the emulated bus the USB tests use.
configure "$build" -S . -G Ninja -DMETERLOAD_TESTS=ON || exit 1
compile "$build" meterload_bench_time meterload_bench_memory meterload_clock_pace meterload_bench_fleet || exit 1

echo "== pacing (real time, native: $(uname -m), $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
"$build/bench/meterload_bench_time" 1.005 || status=1

echo "== the USB library on an emulated bus: one meter, then 16 at once (real time, native, through libusb, load $(cut -d' ' -f1 /proc/loadavg))"
if ! grep -q '^build bench/meterload_bench_usb' "$build/build.ninja" 2>/dev/null; then
  echo "usb      not run: umockdev's development files are missing (libumockdev-dev, see scripts/setup.sh)"
elif compile "$build" meterload_bench_usb meterload_usbtmc; then
  "$build/bench/meterload_bench_usb" 1.005 16 || status=1
else
  echo "usb      not run: the USB benchmark did not build"
  status=1
fi

echo "== eight instruments at once (real time, native, through meterload-cli, load $(cut -d' ' -f1 /proc/loadavg))"
"$build/bench/meterload_bench_fleet" 8 || status=1

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

# The Windows builds under Wine, one per Windows preset, each with Wine's
# loader for its architecture in a prefix of its own. Wine's timers wake later
# than Linux's, and a default Windows timer would round every pause up to a
# 15.6 ms tick.
. scripts/wine_env.sh
presets=$(cmake --list-presets 2>/dev/null | sed -nE 's/^ *"(windows-[^"]*)".*/\1/p')
for preset in $presets; do
  dir=${build}-$preset
  if ! configure "$dir" --preset "$preset" \
     || ! compile "$dir" meterload_bench_time meterload_clock_pace; then
    echo "== $preset: the build failed"
    status=1
    continue
  fi
  # The toolchain file names the architecture; it is not cached.
  toolchain=$(sed -nE 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=(.*)/\1/p' "$dir/CMakeCache.txt")
  printf 'include("%s")\nmessage("${METERLOAD_WINE_ARCH}")\n' "$toolchain" >"$dir.arch.cmake"
  arch=$(cmake -P "$dir.arch.cmake" 2>&1 | tail -n 1)
  wine_use "$arch" "$PWD/build/bench-wine-$arch" || { status=1; continue; }
  # The same probe as the test command: some kernels refuse every 32-bit
  # program, the loader included.
  if [ "$arch" = x86 ] && ! wine_runs_x86; then
    echo "== $preset: skipped, this machine cannot run 32-bit programs ($(wine_x86_refusal))"
    continue
  fi
  # Whether the build's programs start at all shows by running the first
  # benchmark.
  wine_prepare 2>"$dir.run.log"
  if ! pace=$(timeout 300 "$WINE" "$dir/bench/meterload_clock_pace.exe" 2>>"$dir.run.log"); then
    echo "== $preset: skipped, this machine does not run its programs ($(tail -n 1 "$dir.run.log"))"
    continue
  fi
  echo "== pacing (real time, $preset under $("$WINE" --version), load $(cut -d' ' -f1 /proc/loadavg))"
  "$WINE" "$dir/bench/meterload_bench_time.exe" 1.01 || status=1
  echo "== pause accuracy of the real clock ($preset under Wine)"
  echo "$pace"
done
exit $status
