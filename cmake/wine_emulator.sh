#!/usr/bin/env bash
# Runs a Windows test program of our cross builds under Wine, in the build's
# own prefix (set up on first use). Usage: wine_emulator.sh ARCH PREFIX PROGRAM [ARGS...]
set -uo pipefail
. "$(dirname "$0")/../scripts/wine_env.sh"
wine_use "$1" "$2" || exit 2
shift 2
wine_prepare || exit 2
# Waited for rather than exec'd, to report how it ended; a runner's timeout
# still reaches it.
"$WINE" "$@" <&0 &
child=$!
trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
wait "$child"
status=$?
if [ "$status" -gt 128 ]; then
  wait "$child"
  status=$?
fi
# A test program that fails says why itself (exit code 1); anything else,
# with no output at all, is Wine giving up on it, which the log should show.
if [ "$status" -ne 0 ] && [ "$status" -ne 1 ]; then
  echo "wine_emulator: $(basename "$1") ended with exit code $status" >&2
fi
exit "$status"
