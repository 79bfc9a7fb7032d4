#!/usr/bin/env bash
# A longer fuzzing campaign over every fuzz target: builds the fuzz preset,
# then runs each target for the given time, keeping its corpus in
# build/fuzz/corpus/<target> between runs and any crashing input in
# build/fuzz/artifacts/.
#
# usage: scripts/fuzz.sh [seconds per target, default 600] [parallel jobs, default 1]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
jobs=${2:-1}
case "$seconds$jobs" in
  *[!0-9]*) echo "usage: $0 [seconds per target] [parallel jobs]" >&2; exit 2 ;;
esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_image_gate fuzz_package

mkdir -p build/fuzz/artifacts
status=0
for fuzzer in build/fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus=build/fuzz/corpus/$name
  seeds=fuzz/seeds/${name#fuzz_}
  mkdir -p "$corpus"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="build/fuzz/artifacts/$name-")
  [ "$jobs" -gt 1 ] && args+=(-fork="$jobs")
  echo "=== $name: ${seconds}s"
  if ! "$fuzzer" "${args[@]}" "$corpus" "$seeds"; then
    echo "$name: FAILED (see build/fuzz/artifacts/)"
    status=1
  fi
done
exit $status
