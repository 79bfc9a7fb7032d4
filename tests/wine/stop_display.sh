#!/usr/bin/env bash
# Stops what start_display.sh started and turns the screenshots that the
# tests left as BMP files into PNG files beside them.
# Usage: stop_display.sh STATE_FILE [SCREENSHOT_DIR]
set -uo pipefail

state_file=$1
shots=${2:-}

if [ -n "$shots" ] && [ -d "$shots" ] && command -v convert >/dev/null; then
  for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
fi

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
