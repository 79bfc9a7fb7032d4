#!/usr/bin/env bash
# Starts what the Wine tests run in: a private X display (Xvfb), a private
# Wine prefix of the build's architecture (x86 or x64) under the build folder
# and its wine server. Writes the settings to STATE_FILE for run_in_wine.sh
# and stop_display.sh.
# Usage: start_display.sh STATE_FILE PREFIX_DIR ARCH
set -euo pipefail

state_file=$1
prefix=$2
arch=$3
mkdir -p "$(dirname "$state_file")"

wine_env=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine_env.sh
. "$wine_env"
WINEDEBUG=-all
wine_use "$arch" "$prefix"

# Xvfb picks a free display number itself and reports it on fd 3.
display_file=$(mktemp)
# Room for the dialog at 192 DPI (about 1050 pixels wide).
Xvfb -displayfd 3 -screen 0 2048x1536x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "start_display: Xvfb did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -s "$display_file" ]; then
  echo "start_display: Xvfb reported no display within 10 s" >&2
  kill "$xvfb_pid"
  exit 1
fi
display=":$(head -n1 "$display_file")"
rm -f "$display_file"
export DISPLAY=$display

cat >"$state_file" <<STATE
export DISPLAY=$display
. "$wine_env"
WINEDEBUG=-all
wine_use $arch "$prefix"
XVFB_PID=$xvfb_pid
STATE

ready_mark=$prefix/.meterload-ready
if [ ! -f "$ready_mark" ]; then
  mkdir -p "$prefix"
  # (METERLOAD_QEMU_SEGMENTS: see scripts/qemu/wine_under_qemu.c)
  if ! METERLOAD_QEMU_SEGMENTS=off timeout 300 "$WINE" wineboot -i >/dev/null 2>&1; then
    echo "start_display: wineboot -i with $WINE failed or took over 300 s" >&2
    exit 1
  fi
  touch "$ready_mark"
fi
# One virtual desktop: Wine draws the captions and frames itself, as there
# is no window manager on the private display, and screenshots show them.
desktop_mark=$prefix/.meterload-desktop-2048x1536
if [ ! -f "$desktop_mark" ]; then
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 2048x1536 /f >/dev/null 2>&1
  # The desktop that the set-up started has no such window; a new wine
  # server starts a new one that reads the setting.
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  timeout 30 wineserver -w >/dev/null 2>&1 || true
  touch "$desktop_mark"
fi
# Keep one wine server for all the tests instead of one per test.
wineserver -p 2>/dev/null || true
timeout 120 "$WINE" wineboot >/dev/null 2>&1 || true
echo "start_display: DISPLAY=$display WINEPREFIX=$prefix"
