#!/usr/bin/env bash
# meterload-cli.exe under Wine against the simulated visa DLL: list finds both
# instruments, inspect explains a damaged package without an instrument,
# install updates the one chosen by serial number, and install --all both at
# once, each in a thread of its own.
# Usage: wine_cli_test.sh ARCH PREFIX meterload-cli.exe SIM_DLL WORK_DIR
set -uo pipefail
arch=$1 prefix=$2 exe=$3 dll=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine_env.sh"
if [ "$arch" = x86 ] && ! wine_runs_x86; then
  echo "skipped: this machine cannot run 32-bit programs ($(wine_x86_refusal))"
  exit 77
fi
wine_use "$arch" "$prefix"
wine_prepare || exit 1

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
# A DSP image newer than the simulated 02.05 (header bytes stored inverted),
# and a package cut inside its table.
python3 - <<'PY'
import struct
def image(version, body):
    h = bytearray(50); h[1:16] = b"KORVALEN ZQ6140"; h[41:46] = version; h[46] = 0
    return bytes(b ^ 0xFF for b in h) + bytes((i * 7) & 255 for i in range(body))
main = image(b"02.06", 700)
open("main.bin", "wb").write(main)
table = bytearray(516 + 520); struct.pack_into("<i", table, 512, 1)
struct.pack_into("<ii", table, 516, 516 + 520, len(main)); table[524:532] = b"main.bin"
open("cut.pak", "wb").write(bytes(table)[:700])
PY

export METERLOAD_VISA_LIBRARY=$(wine_path "$dll")
export ZQSIM_SERIALS=ABC123,DEF456 ZQSIM_STATE=$(wine_path "$work/state") ZQSIM_TRANSCRIPT=$(wine_path "$work/transcript.txt")
failed=0 not_run=()
# Under qemu-user a run that the emulator itself ended (see wine_env.sh's
# wine_x86_emulated) did not run: it is named, and neither passes nor fails.
emulator_ended() {
  wine_x86_emulated "$arch" && grep -q '^qemu: uncaught target signal' "$1.err"
}
check() {  # check NAME EXPECTED_CODE PATTERN COMMAND...
  local name=$1 want=$2 pattern=$3; shift 3
  "$WINE" "$exe" "$@" >"$name.out" 2>"$name.err" </dev/null
  local code=$?
  if [ "$code" -ne "$want" ] && emulator_ended "$name"; then
    echo "not run $name: $(grep -m1 '^qemu: uncaught' "$name.err")"; not_run+=("$name")
  elif [ "$code" -ne "$want" ] || ! grep -q -- "$pattern" "$name.out" "$name.err"; then
    echo "FAIL $name: exit $code (wanted $want), looking for '$pattern'"; cat "$name.out" "$name.err"
    failed=$((failed + 1))
  else
    echo "ok   $name"
  fi
}
check list 0 'DEF456  USB0::0x1D47::0x0B62::DEF456::INSTR' list
check list_json 0 '"serial": "DEF456"' list --identify --json
check several 3 'Several ZQ6140 are attached' identify
check inspect_damaged 4 'runs past the end of the file' inspect cut.pak
check install 0 '"main.bin" update completed.' install main.bin --serial DEF456 --yes
if [[ " ${not_run[*]} " != *" install "* ]] && ! grep -q 'image serial=DEF456 index=1 size=700' transcript.txt; then
  echo "FAIL install: the transcript has no image of 700 bytes on DEF456"; failed=$((failed + 1))
fi
# Both powered on afresh.
rm -f state
check fleet 0 '2 of 2 instruments updated.' install main.bin --all --yes
# DEF456 took one image already, from the install before (when it ran).
def456=2
[[ " ${not_run[*]} " == *" install "* ]] && def456=1
[[ " ${not_run[*]} " == *" fleet "* ]] || for want in ABC123:1 DEF456:$def456; do
  serial=${want%:*}
  if [ "$(grep -c "image serial=$serial index=1 size=700" transcript.txt)" -ne "${want#*:}" ]; then
    echo "FAIL fleet: the transcript has not ${want#*:} images of 700 bytes on $serial"; failed=$((failed + 1))
  fi
done
# A data write held at its write gate waits inside the library, in another
# process, until the gate is gone: what the native Ctrl+C tests rest on.
rm -f state && mkdir -p gates && echo 240 >gates/ABC123
held_from=$(($(wc -l <transcript.txt) + 1))
ZQSIM_WRITE_GATES=$(wine_path "$work/gates") "$WINE" "$exe" install main.bin --serial ABC123 --yes \
  >held.out 2>held.err </dev/null &
held_pid=$!
held_line=
for _ in $(seq 1200); do
  held_line=$(tail -n +"$held_from" transcript.txt | grep -n -m1 ' held vi=[0-9]* serial=ABC123 ' | cut -d: -f1)
  [ -n "$held_line" ] || ! kill -0 "$held_pid" 2>/dev/null && break
  sleep 0.1
done
held_early=$(tail -n +"$held_from" transcript.txt | grep -c 'image serial=ABC123')
rm -f gates/ABC123
wait "$held_pid"
held_code=$?
if [ "$held_code" -ne 0 ] && emulator_ended held; then
  echo "not run held: $(grep -m1 '^qemu: uncaught' held.err)"; not_run+=(held)
elif [ -z "$held_line" ] || [ "$held_early" -ne 0 ] || [ "$held_code" -ne 0 ] ||
  ! tail -n +$((held_from + held_line)) transcript.txt | grep -q 'image serial=ABC123 index=1 size=700'; then
  echo "FAIL held: exit $held_code, held at line '${held_line}', images before the gate opened: $held_early"
  cat held.out held.err; failed=$((failed + 1))
else
  echo "ok   held"
fi
echo "$((10 - failed - ${#not_run[@]})) passed, $failed failed, ${#not_run[@]} not run${not_run[*]:+: ${not_run[*]}}"
[ "$failed" -eq 0 ] || exit 1
[ ${#not_run[@]} -eq 0 ] || exit 77
