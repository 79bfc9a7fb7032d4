#!/usr/bin/env bash
# Starts meterload.exe as a user would (from the shell, beside the simulated
# VISA library) on the test display, waits until the dialog shows on screen,
# saves a screenshot and checks its painted background: white at the top,
# grey towards the bottom, in 10-pixel bands, and that the picture shows the
# window (check_picture.sh). Ends the program by its id.
# Usage: start_screenshot.sh STATE_FILE STAGE_DIR SCREENSHOT_DIR
set -euo pipefail
state_file=$1
stage=$2
shots=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1090
. "$state_file"

run=$(mktemp -d)
shot=$run/root.png
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$run"' EXIT
mkdir -p "$shots"
cat >"$run/zqsim.conf" <<CONF
serials=ABC123
state=$(wine_path "$run/zqsim.state")
transcript=$(wine_path "$run/transcript.txt")
CONF
export ZQSIM_CONFIG
ZQSIM_CONFIG=$(wine_path "$run/zqsim.conf")

cd "$stage"
"$WINE" ./meterload.exe >/dev/null 2>&1 &
pid=$!

# The dialog sits at the desktop's origin; its lower band is grey once painted.
grey_at() { convert "$shot" -format "%[fx:int(255*p{$1,$2}.r)] %[fx:int(255*p{$1,$2}.g)] %[fx:int(255*p{$1,$2}.b)]" info:; }
shown=""
for _ in $(seq 60); do
  sleep 0.5
  import -window root "$shot" 2>/dev/null || continue
  read -r r g b <<<"$(grey_at 5 200)"
  # Black is the bare X screen before Wine's desktop shows.
  if [ "$r" = "$g" ] && [ "$g" = "$b" ] && [ "$r" -gt 64 ] && [ "$r" -lt 200 ]; then
    shown=yes
    break
  fi
done
if [ -z "$shown" ]; then
  echo "start_screenshot: the dialog did not show within 30 s" >&2
  exit 1
fi
# Taken again while it is mostly one colour or lacks the caption bar (the
# window not yet drawn in full); a test failure when it stays so.
sleep 1
for attempt in 1 2 3 4 5 6 7 8; do
  import -window root "$shot"
  convert "$shot" -crop 566x214+0+0 +repage "$shots/start.png"
  why=$(sh "$here/check_picture.sh" "$shots/start.png" 2>&1) && break
  [ "$attempt" -eq 8 ] && { echo "start_screenshot: the picture stayed wrong: $why" >&2; exit 1; }
  sleep 0.5
done

# Inside the client area, left of the log: a white top band, bands that get
# darker downwards, every band a pure grey.
previous=256
for y in 25 45 105 155 205; do
  read -r r g b <<<"$(grey_at 4 "$y")"
  if [ "$r" != "$g" ] || [ "$g" != "$b" ]; then
    echo "start_screenshot: pixel (4,$y) is not grey: $r $g $b" >&2
    exit 1
  fi
  if [ "$r" -gt "$previous" ]; then
    echo "start_screenshot: the background gets lighter at y=$y ($r after $previous)" >&2
    exit 1
  fi
  previous=$r
done
read -r top _ _ <<<"$(grey_at 4 25)"
read -r bottom _ _ <<<"$(grey_at 4 205)"
if [ "$top" -lt 250 ] || [ "$bottom" -gt 160 ]; then
  echo "start_screenshot: expected white at the top and grey at the bottom, got $top and $bottom" >&2
  exit 1
fi
echo "start_screenshot: $shots/start.png (top $top, bottom $bottom)"
