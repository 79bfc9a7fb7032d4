#!/usr/bin/env bash
# Stops what start_display.sh started.
# Usage: stop_display.sh STATE_FILE
set -uo pipefail

state_file=$1
[ -f "$state_file" ] || exit 0
# shellcheck disable=SC1090
. "$state_file"
timeout 30 wineserver -k 2>/dev/null || true
timeout 30 wineserver -w 2>/dev/null || true
if [ -n "${XVFB_PID:-}" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
  kill "$XVFB_PID"
fi
rm -f "$state_file"
exit 0
