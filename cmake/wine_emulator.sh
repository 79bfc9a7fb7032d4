#!/usr/bin/env bash
# Runs a Windows test program of our cross builds under Wine, in the build's
# own prefix (set up on first use). Usage: wine_emulator.sh ARCH PREFIX PROGRAM [ARGS...]
set -uo pipefail
. "$(dirname "$0")/../scripts/wine_env.sh"
wine_use "$1" "$2" || exit 2
shift 2
wine_prepare || exit 2

# run_program: runs the program once and returns how it ended. Waited for
# rather than exec'd, so that a runner's timeout still reaches it.
run_program() {
  "$WINE" "$@" <&0 &
  child=$!
  trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
  wait "$child"
  local status=$?
  if [ "$status" -gt 128 ]; then
    wait "$child"
    status=$?
  fi
  return "$status"
}

# Listing a program's tests has no effects, and one that fails takes every
# test of the run with it (discovery is all or nothing), so a listing that
# Wine drops is tried again: with Wine's error messages on, so that a second
# failure says why. The tests themselves run once.
if [[ " $* " == *" --gtest_list_tests "* ]]; then
  output=$(mktemp)
  trap 'rm -f "$output"' EXIT
  for attempt in 1 2 3; do
    run_program "$@" >"$output"
    status=$?
    [ "$status" -eq 0 ] && break
    echo "wine_emulator: listing the tests of $(basename "$1") failed (exit code $status, attempt $attempt of 3)" >&2
    export WINEDEBUG=err+all,fixme-all
    sleep 2
  done
  cat "$output"
  exit "$status"
fi

run_program "$@"
status=$?
# A test program that fails says why itself (exit code 1); anything else,
# with no output at all, is Wine giving up on it, which the log should show.
if [ "$status" -ne 0 ] && [ "$status" -ne 1 ]; then
  echo "wine_emulator: $(basename "$1") ended with exit code $status" >&2
fi
exit "$status"
