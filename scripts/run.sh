#!/usr/bin/env bash
# Builds meterload.exe and the simulated ZQ6140 (visa32.dll) for Windows,
# stages them side by side in build/windows-x86/run/ and starts MeterLoad
# under Wine, talking to the simulated instrument.
#
# With DISPLAY set, MeterLoad opens on that display and the script ends when
# MeterLoad does. Without one, it starts a private Xvfb display, lets MeterLoad
# run for RUN_SECONDS (default 10), saves a screenshot to
# build/windows-x86/run/screenshot.png and stops both again; to work with the
# dialog, run the script with DISPLAY pointing at an X display (a desktop
# session, `ssh -X`, or an Xvfb display you watch through a VNC server).
#
# The simulated instrument reads build/windows-x86/run/zqsim.conf (written
# with defaults when missing: one instrument, serial ABC123, firmware
# 02.05-11-07), keeps its state in zqsim.state and records every VISA call in
# transcript.txt, all in the staging folder. ZQSIM_<KEY> variables override
# single settings, e.g. ZQSIM_REPLIES=2 for a checksum refusal; delete
# zqsim.state to switch the instrument off and on.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/windows-x86
stage=$build/run

bash "$root/scripts/setup.sh"

(cd "$root" && cmake --preset windows-x86 >/dev/null)
cmake --build "$build" --target meterload zqsim

mkdir -p "$stage"
cp -f "$build/app/meterload.exe" "$build/sim/visa32.dll" "$stage/"

export WINEPREFIX=$build/wine-prefix
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# First start of a new prefix: wine sets it up, which takes a while.
if [ ! -d "$WINEPREFIX" ]; then
  echo "run: setting up the Wine prefix $WINEPREFIX (once)"
fi

winpath() { winepath -w "$1" 2>/dev/null; }
state_win=$(winpath "$stage/zqsim.state")
transcript_win=$(winpath "$stage/transcript.txt")
if [ ! -f "$stage/zqsim.conf" ]; then
  cat >"$stage/zqsim.conf" <<CONF
# The simulated ZQ6140 that scripts/run.sh starts MeterLoad with; see sim/README.md.
serials=ABC123
versions=02.05-11-07
state=$state_win
transcript=$transcript_win
CONF
fi
export ZQSIM_CONFIG
ZQSIM_CONFIG=$(winpath "$stage/zqsim.conf")

cd "$stage"
if [ -n "${DISPLAY:-}" ]; then
  echo "run: starting MeterLoad on $DISPLAY (transcript: $stage/transcript.txt)"
  exec wine "$stage/meterload.exe"
fi

seconds=${RUN_SECONDS:-10}
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
if [ ! -s "$display_file" ]; then
  echo "run: Xvfb did not start" >&2
  kill "$xvfb_pid" 2>/dev/null || true
  exit 1
fi
export DISPLAY=":$(head -n1 "$display_file")"
rm -f "$display_file"

echo "run: no DISPLAY set; running MeterLoad on a private display ($DISPLAY) for $seconds s"
# A Wine desktop window, so that the dialog's frame and caption are drawn
# although no window manager runs on the private display.
wine explorer /desktop=MeterLoad,1024x768 "$stage/meterload.exe" &
app_pid=$!
sleep "$seconds"
import -window root -display "$DISPLAY" "$stage/screenshot.png" || true
# Ends MeterLoad and the desktop: every process of this script's own prefix.
wineserver -k 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
kill "$xvfb_pid" 2>/dev/null || true
echo "run: screenshot saved to $stage/screenshot.png"
echo "run: to use the dialog, set DISPLAY to an X display and run this script again"
