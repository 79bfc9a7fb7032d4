#!/usr/bin/env bash
# Builds meterload.exe and the simulated ZQ6140 (a VISA library) for Windows,
# stages them side by side in build/windows-ARCH/run/ and starts MeterLoad
# under Wine, talking to the simulated instrument. ARCH is x86 where this
# machine runs 32-bit programs and x64 otherwise (some kernels refuse 32-bit
# programs); METERLOAD_ARCH=x86 or x64 chooses. The script says which it opened.
#
# With DISPLAY set, MeterLoad opens on that display and the script ends when
# MeterLoad does. Without one, it starts a private Xvfb display, lets MeterLoad
# run for RUN_SECONDS (default 10), saves a screenshot to
# build/windows-ARCH/run/screenshot.png and stops both again; to work with the
# dialog, run the script with DISPLAY pointing at an X display (a desktop
# session, `ssh -X`, or an Xvfb display you watch through a VNC server).
#
# The simulated instrument reads build/windows-ARCH/run/zqsim.conf (written
# with defaults when missing: one instrument, serial ABC123, firmware
# 02.05-11-07), keeps its state in zqsim.state and records every VISA call in
# transcript.txt, all in the staging folder. ZQSIM_<KEY> variables override
# single settings, e.g. ZQSIM_REPLIES=2 for a checksum refusal; delete
# zqsim.state to switch the instrument off and on.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
. "$root/scripts/wine_env.sh"

arch=${METERLOAD_ARCH:-}
if [ -z "$arch" ]; then
  if wine_runs_x86; then arch=x86; else arch=x64; fi
fi
case $arch in
  x86) library=visa32.dll; why="this machine runs 32-bit programs" ;;
  x64) library=visa64.dll; why="this machine cannot run 32-bit programs" ;;
  *) echo "run: METERLOAD_ARCH must be x86 or x64" >&2; exit 2 ;;
esac
[ -n "${METERLOAD_ARCH:-}" ] && why="chosen with METERLOAD_ARCH"
echo "run: opening the $arch build of MeterLoad ($why)"

build=$root/build/windows-$arch
stage=$build/run
(cd "$root" && cmake --preset "windows-$arch" >/dev/null)
cmake --build "$build" --target meterload zqsim

mkdir -p "$stage"
cp -f "$build/app/meterload.exe" "$build/sim/$library" "$stage/"

wine_use "$arch" "$build/wine-prefix"
if [ ! -f "$WINEPREFIX/.meterload-ready" ]; then
  echo "run: setting up the Wine prefix $WINEPREFIX (once)"
fi
wine_prepare

if [ ! -f "$stage/zqsim.conf" ]; then
  cat >"$stage/zqsim.conf" <<CONF
# The simulated ZQ6140 that scripts/run.sh starts MeterLoad with; see sim/README.md.
serials=ABC123
versions=02.05-11-07
state=$(wine_path "$stage/zqsim.state")
transcript=$(wine_path "$stage/transcript.txt")
CONF
fi
export ZQSIM_CONFIG
ZQSIM_CONFIG=$(wine_path "$stage/zqsim.conf")

cd "$stage"
if [ -n "${DISPLAY:-}" ]; then
  echo "run: starting MeterLoad on $DISPLAY (transcript: $stage/transcript.txt)"
  exec "$WINE" "$stage/meterload.exe"
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
"$WINE" explorer /desktop=MeterLoad,1024x768 "$stage/meterload.exe" &
app_pid=$!
sleep "$seconds"
import -window root -display "$DISPLAY" "$stage/screenshot.png" || true
# Ends MeterLoad and the desktop: every process of this script's own prefix.
wineserver -k 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
kill "$xvfb_pid" 2>/dev/null || true
echo "run: screenshot saved to $stage/screenshot.png"
echo "run: to use the dialog, set DISPLAY to an X display and run this script again"
