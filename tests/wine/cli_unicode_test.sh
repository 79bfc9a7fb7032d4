#!/usr/bin/env bash
# meterload-cli.exe under Wine with names in Cyrillic and Chinese: `inspect`
# reads an image in a folder so named and shows its path as typed (single
# backslashes); `list` loads the VISA library from such a folder, named on
# the command line or in METERLOAD_VISA_LIBRARY; `history` takes its file
# from METERLOAD_HISTORY in such a folder; `pack` writes a package there.
# Usage: cli_unicode_test.sh ARCH PREFIX meterload-cli.exe SIM_DLL WORK_DIR
set -uo pipefail
arch=$1 prefix=$2 exe=$3 dll=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine_env.sh"
if [ "$arch" = x86 ] && ! wine_runs_x86; then
  echo "skipped: this machine cannot run 32-bit programs ($(wine_x86_refusal))"
  exit 77
fi
# Wine reads the Unix command line in the locale's character set.
export LC_ALL=C.UTF-8
wine_use "$arch" "$prefix"
wine_prepare || exit 1

folder="$work/Папка 测试"
rm -rf "$work" && mkdir -p "$folder" || exit 1
python3 - "$folder/main.bin" <<'PY'
import sys
h = bytearray(50); h[1:16] = b"KORVALEN ZQ6140"; h[41:46] = b"02.06"
open(sys.argv[1], "wb").write(bytes(b ^ 0xFF for b in h) + bytes(300))
PY
cp "$dll" "$folder/"
image=$(wine_path "$folder/main.bin")
library=$(wine_path "$folder/$(basename "$dll")")
export ZQSIM_SERIALS=ABC123 ZQSIM_STATE=$(wine_path "$work/state")
unset METERLOAD_VISA_LIBRARY

failed=0 passed=0
# check NAME WHAT CONDITION...: runs meterload-cli.exe with the arguments
# after `--` (its output in $work/NAME.out and .err), then CONDITION with
# its exit code in $code; WHAT says what was tried.
check() {
  local name=$1 what=$2
  shift 2
  local condition=()
  while [ "$1" != -- ]; do condition+=("$1"); shift; done
  shift
  "$WINE" "$exe" "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null
  code=$?
  if [ "$code" -eq 0 ] && "${condition[@]}"; then
    echo "ok   $name: $what"; passed=$((passed + 1))
  else
    echo "FAIL $name: exit $code, $what"; cat "$work/$name.out" "$work/$name.err"
    failed=$((failed + 1))
  fi
}
shows_line() { grep -qxF "$1" <(tr -d '\r' <"$work/$2.out"); }
lists_meter() { grep -q '^ABC123 ' "$work/$1.out"; }
history_from() {
  python3 - "$work/$1.out" "$2" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
sys.exit(0 if doc["path"] == sys.argv[2] and len(doc["records"]) == 1 else 1)
PY
}

check inspect "shows the line 'File:        $image'" shows_line "File:        $image" inspect -- inspect "$image"
check list "through --visa-library $library" lists_meter list -- list --visa-library "$library"
METERLOAD_VISA_LIBRARY=$library check list-env "through METERLOAD_VISA_LIBRARY=$library" lists_meter list-env -- list

# One record, as the programs write it, in a history file in that folder.
history=$(wine_path "$folder/history.jsonl")
printf '%s\n' '{"time":"2026-12-01T10:00:00Z","serial":"ABC123","firmware_version_field":"02.05","file":"main.bin","size":350,"sha256":"00","kind":"image","result":"completed","duration_ms":4000}' \
  >"$folder/history.jsonl"
METERLOAD_HISTORY=$history check history "from METERLOAD_HISTORY=$history" history_from history "$history" -- history --json

# A package written into that folder and read back; writing it again
# without --force is refused, as the check that it exists reads that name.
package=$(wine_path "$folder/пакет.pak")
check pack "writes $package" test -s "$folder/пакет.pak" -- pack "$package" "$image"
check inspect-package "shows the line 'File:        $package'" shows_line "File:        $package" inspect-package -- \
  inspect "$package"
"$WINE" "$exe" pack "$package" "$image" >"$work/pack-again.out" 2>"$work/pack-again.err" </dev/null
code=$?
if [ "$code" -ne 0 ] && grep -q "already exists" "$work/pack-again.out" "$work/pack-again.err"; then
  echo "ok   pack-again: refused with exit $code"; passed=$((passed + 1))
else
  echo "FAIL pack-again: exit $code, wanted a refusal: it already exists"; cat "$work/pack-again.out" "$work/pack-again.err"
  failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
