#!/usr/bin/env bash
# meterload-cli.exe under Wine with names in Cyrillic and Chinese: `inspect`
# reads an image in a folder so named and shows its path as typed (single
# backslashes), and `list` loads the VISA library from such a folder.
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

failed=0
"$WINE" "$exe" inspect "$image" >"$work/inspect.out" 2>"$work/inspect.err" </dev/null
code=$?
if [ "$code" -ne 0 ] || ! grep -qxF "File:        $image" <(tr -d '\r' <"$work/inspect.out"); then
  echo "FAIL inspect: exit $code, wanted the line 'File:        $image'"; cat "$work/inspect.out" "$work/inspect.err"
  failed=$((failed + 1))
else
  echo "ok   inspect shows $image"
fi
"$WINE" "$exe" list --visa-library "$library" >"$work/list.out" 2>"$work/list.err" </dev/null
code=$?
if [ "$code" -ne 0 ] || ! grep -q '^ABC123 ' "$work/list.out"; then
  echo "FAIL list: exit $code with --visa-library $library"; cat "$work/list.out" "$work/list.err"
  failed=$((failed + 1))
else
  echo "ok   list through $library"
fi
echo "$((2 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
