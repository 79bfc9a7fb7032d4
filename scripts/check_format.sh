#!/usr/bin/env bash
# Checks that every C and C++ file that git tracks is exactly what clang-format
# makes of it (the .clang-format at the top, and those of app/, tests/wine/,
# res/ and scripts/qemu/); names the files that are not, with the start of
# each one's difference, and fails. `--fix` rewrites those files instead.
# The style is clang-format 14's (Debian 12); another version may place a
# few lines differently.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
case "${1:-}" in
  "") ;;
  --fix) fix=1 ;;
  *) echo "usage: bash scripts/check_format.sh [--fix]" >&2; exit 2 ;;
esac

clang_format=${CLANG_FORMAT:-clang-format}
if ! command -v "$clang_format" >/dev/null 2>&1; then
  echo "check_format: $clang_format not found (bash scripts/setup.sh installs it)" >&2
  exit 1
fi

# The tracked files; a copy without git's records checks what its folders hold.
files=()
if [ -e .git ]; then
  while IFS= read -r -d '' f; do
    [ -f "$f" ] && files+=("$f")
  done < <(git ls-files -z -- '*.c' '*.cpp' '*.h')
else
  while IFS= read -r -d '' f; do
    files+=("${f#./}")
  done < <(find . -path ./build -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "check_format: no C or C++ files found" >&2
  exit 1
fi

if [ $fix -eq 1 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 "$clang_format" -i
  echo "check_format: formatted ${#files[@]} files with $("$clang_format" --version)"
  exit 0
fi

# One violation per file is enough to name it.
status=0
report=$(printf '%s\0' "${files[@]}" | xargs -0 "$clang_format" --dry-run --Werror --ferror-limit=1 2>&1) || status=$?
differing=()
while IFS= read -r f; do
  [ -n "$f" ] && differing+=("$f")
done < <(printf '%s\n' "$report" \
           | sed -nE 's/^(.+):[0-9]+:[0-9]+: error: code should be clang-formatted.*/\1/p' | sort -u)

if [ ${#differing[@]} -eq 0 ]; then
  if [ $status -ne 0 ]; then
    # Not a difference: a broken .clang-format, an unreadable file.
    printf '%s\n' "$report" >&2
    echo "check_format: $clang_format failed (exit $status)" >&2
    exit 1
  fi
  echo "check_format: all ${#files[@]} C and C++ files are as $clang_format writes them"
  exit 0
fi

echo "check_format: ${#differing[@]} of ${#files[@]} files differ from what $clang_format writes ($("$clang_format" --version)):"
printf '  %s\n' "${differing[@]}"
shown=0
for f in "${differing[@]}"; do
  [ $shown -ge 5 ] && { echo "(the differences of the other files are not shown)"; break; }
  echo "--- the start of $f's difference:"
  "$clang_format" --style=file "$f" | diff -u --label "$f" --label "$f (formatted)" "$f" - | sed -n '3,22p' || true
  shown=$((shown + 1))
done
echo "Reformat them with: bash scripts/check_format.sh --fix"
exit 1
