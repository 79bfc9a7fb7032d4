#!/usr/bin/env bash
# The installer as a user runs it, in a fresh Wine prefix of its own: a
# silent per-machine install (/S) puts both programs, the readme and the
# uninstaller under Program Files (the x64 build's under the 64-bit folder),
# a Start-menu entry and the Add/Remove Programs entry; the installed
# meterload.exe starts and finds the simulated instrument placed beside it
# for this test only (and the command line lists it); the uninstaller then
# removes every file it installed, the entry and the registry key.
# Usage: installer_test.sh ARCH INSTALLER SIM_DLL WORK_DIR
set -uo pipefail
arch=$1 installer=$2 dll=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine_env.sh"
if [ "$arch" = x86 ] && ! wine_runs_x86; then
  echo "skipped: this machine cannot run 32-bit programs ($(wine_x86_refusal))"
  exit 77
fi

failed=0
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
ok() { echo "ok   $*"; }

xvfb_pid="" app_pid=""
# The prefix is this test's own from wine_use on; until then a prefix named
# by the caller (the one the other tests share) is never stopped here.
unset WINEPREFIX
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && timeout 30 wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

rm -rf "$work" && mkdir -p "$work" || exit 1
# A display of its own: the installed dialog is started on it.
display_file=$work/display
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "installer_test: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"

wine_use "$arch" "$work/prefix"
WINE_PERSIST=30 wine_prepare || exit 1

drive=$WINEPREFIX/drive_c
folder="$drive/Program Files/MeterLoad"
other="$drive/Program Files (x86)/MeterLoad"
if [ "$arch" = x86 ] && [ -d "$drive/Program Files (x86)" ]; then
  folder="$drive/Program Files (x86)/MeterLoad" other="$drive/Program Files/MeterLoad"
fi
shortcut="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/MeterLoad.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MeterLoad'
installed=(meterload.exe meterload-cli.exe README.txt uninstall.exe)

timeout 120 "$WINE" "$installer" /S </dev/null >"$work/install.log" 2>&1
code=$?
[ "$code" -eq 0 ] && ok "installer /S exits 0" || fail "installer /S exits $code"
for file in "${installed[@]}"; do
  [ -f "$folder/$file" ] || fail "not installed: $folder/$file"
done
[ -e "$other" ] && fail "installed into $other as well"
[ -z "$(find "$folder" -iname '*.dll' 2>/dev/null)" ] || fail "a DLL was installed: $(find "$folder" -iname '*.dll')"
[ -f "$shortcut" ] && ok "Start-menu entry" || fail "no Start-menu entry at $shortcut"
entry=$("$WINE" reg query "$key" 2>/dev/null | tr -d '\r')
for want in "DisplayName.*MeterLoad ($arch)" "DisplayVersion.*2\.0\.6" "UninstallString.*uninstall\.exe" \
            "QuietUninstallString.*uninstall\.exe\" /S" "InstallLocation.*MeterLoad"; do
  grep -q "$want" <<<"$entry" || fail "the Add/Remove Programs entry lacks $want: $entry"
done
[ "$failed" -eq 0 ] && ok "installed: ${installed[*]}, entry $key"

# The simulated instrument, beside the installed program for this test only.
cp "$dll" "$folder/"
cat >"$work/zqsim.conf" <<CONF
serials=ABC123
state=$(wine_path "$work/zqsim.state")
transcript=$(wine_path "$work/transcript.txt")
CONF
export ZQSIM_CONFIG
ZQSIM_CONFIG=$(wine_path "$work/zqsim.conf")

(cd "$work" && exec "$WINE" "$folder/meterload.exe" >/dev/null 2>&1) &
app_pid=$!
found=""
for _ in $(seq 120); do
  grep -q 'viOpen.*ABC123' "$work/transcript.txt" 2>/dev/null && { found=yes; break; }
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.5
done
[ -n "$found" ] && ok "the installed meterload.exe found the instrument" \
  || fail "the installed meterload.exe did not open the instrument"
sleep 1
import -window root "$work/installed.png" 2>/dev/null || true
kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; app_pid=""
listed=$(cd "$work" && timeout 60 "$WINE" "$folder/meterload-cli.exe" list </dev/null 2>&1 | tr -d '\r')
grep -q '^ABC123 ' <<<"$listed" && ok "the installed meterload-cli.exe lists ABC123" \
  || fail "the installed meterload-cli.exe did not list ABC123: $listed"
rm -f "$folder/$(basename "$dll")"

# The uninstaller copies itself away and works from there: wait for it.
timeout 120 "$WINE" "$folder/uninstall.exe" /S </dev/null >"$work/uninstall.log" 2>&1
for _ in $(seq 120); do [ -e "$folder" ] || break; sleep 0.5; done
not_run=""
if [ -e "$folder" ] && wine_x86_emulated "$arch" \
   && grep -qE '^(qemu: uncaught target signal|wine client error)' "$work/uninstall.log" "$work"/prefix/drive_c/users/*/Temp/*.log 2>/dev/null; then
  # Under qemu-user Wine itself can be ended (see wine_env.sh): the
  # uninstaller did not run, which is neither a pass nor a failure.
  not_run="the uninstaller was ended under qemu-user: $(grep -hE '^(qemu: uncaught|wine client error)' "$work/uninstall.log" | head -n 1)"
  echo "not run: $not_run"
elif [ -e "$folder" ]; then
  fail "files left after uninstalling: $(cd "$folder" && ls -A | paste -sd' ')"
else
  ok "uninstalled: the folder is gone"
fi
if [ -z "$not_run" ]; then
  [ -e "$shortcut" ] && fail "the Start-menu entry is left"
  if "$WINE" reg query "$key" >/dev/null 2>&1; then fail "the registry key $key is left"; else ok "registry key removed"; fi
fi

echo "installer_test: $failed failed${not_run:+; not run: $not_run}"
[ "$failed" -eq 0 ] || exit 1
[ -z "$not_run" ] || exit 77
