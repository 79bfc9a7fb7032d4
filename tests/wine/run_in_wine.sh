#!/usr/bin/env bash
# Runs a Windows program on the display and in the Wine prefix that
# start_display.sh set up. Usage: run_in_wine.sh STATE_FILE PROGRAM [ARGS...]
set -euo pipefail
state_file=$1
shift
if [ ! -f "$state_file" ]; then
  echo "run_in_wine: $state_file missing; start_display.sh has not run" >&2
  exit 1
fi
# shellcheck disable=SC1090
. "$state_file"
exec "$WINE" "$@"
