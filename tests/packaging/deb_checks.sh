#!/usr/bin/env bash
# Checks of the built Debian package, one per call:
#   deb_checks.sh lintian DEB
#   deb_checks.sh files   DEB EXPECTED_LIST
#   deb_checks.sh control DEB VERSION EXPECTED_LIST
#   deb_checks.sh install DEB EXPECTED_LIST WORK
#   deb_checks.sh docs    ROOT VERSION
#   deb_checks.sh runs    ROOT VERSION CORPUS WORK
#   deb_checks.sh man     ROOT
# ROOT is the package unpacked with dpkg-deb -x. Says what differs and exits
# non-zero when a check fails, 77 when it cannot run here.
set -uo pipefail
check=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect_run NAME EXIT PATTERN COMMAND...: the command exits with EXIT and its
# standard output and error match the extended regular expression PATTERN.
expect_run() {
  local name=$1 want_exit=$2 pattern=$3 out code
  shift 3
  out=$("$@" 2>&1)
  code=$?
  if [ "$code" -ne "$want_exit" ]; then
    fail "$name: exit $code, expected $want_exit; output:"; echo "$out"
  elif ! grep -qE -- "$pattern" <<<"$out"; then
    fail "$name: output does not match /$pattern/:"; echo "$out"
  else
    echo "ok: $name"
  fi
}

case $check in
lintian)
  deb=$1
  # Errors fail the check; every tag is shown.
  lintian --pedantic --display-info --display-experimental --fail-on error "$deb" 2>&1
  code=$?
  [ "$code" -eq 0 ] || fail "lintian reports errors (exit $code)"
  ;;

files)
  deb=$1 expected=$2
  listing=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$')
  actual=$(grep -v '/$' <<<"$listing" | sort)
  if ! difference=$(diff <(sort "$expected") <(echo "$actual")); then
    fail "the package's files differ from the list ($expected; < listed only, > packaged only):"
    echo "$difference"
  fi
  # No directory that holds none of the files.
  while read -r dir; do
    grep -q "^$dir" <<<"$actual" || fail "empty directory in the package: $dir"
  done < <(grep '/$' <<<"$listing")
  [ "$failures" -eq 0 ] && { echo "the package holds exactly:"; echo "$actual"; }
  ;;

control)
  deb=$1 version=$2 expected=$3
  [ "$(dpkg-deb -f "$deb" Package)" = meterload-cli ] || fail "Package: $(dpkg-deb -f "$deb" Package)"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version: $(dpkg-deb -f "$deb" Version), expected $version"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] \
    || fail "Architecture: $(dpkg-deb -f "$deb" Architecture)"
  depends=$(dpkg-deb -f "$deb" Depends)
  needed=(libc6 libstdc++6 libnettle8)
  grep -q 'libmeterload-usbtmc\.so$' "$expected" && needed+=(libusb-1.0-0)
  names=$(sed 's/([^)]*)//g; s/|/,/g' <<<"$depends" | tr ',' '\n' | awk '{print $1}')
  for package in "${needed[@]}"; do
    grep -qxF "$package" <<<"$names" || fail "Depends lacks $package: $depends"
  done
  # Only our own scripts run as root when the package is installed or
  # removed: none that CPack adds.
  control=$(mktemp -d)
  dpkg-deb -e "$deb" "$control"
  scripts=$(cd "$control" && ls preinst postinst prerm postrm 2>/dev/null | paste -sd' ' -)
  [ "$scripts" = "postinst postrm" ] || fail "maintainer scripts: $scripts, expected postinst postrm"
  for script in postinst postrm; do
    cmp -s "$control/$script" "$here/../../packaging/deb/$script" || fail "$script is not packaging/deb/$script"
  done
  rm -rf "$control"
  [ "$failures" -eq 0 ] && dpkg-deb -f "$deb"
  ;;

install)
  # Installed and purged with dpkg into a root of its own, the dependencies
  # taken as present: every file arrives, the installed program runs, and
  # nothing is left behind.
  deb=$1 expected=$2 work=$3
  if [ "$(id -u)" -ne 0 ]; then
    echo "not run: dpkg installs files owned by root only when run as root"
    exit 77
  fi
  root=$work/dpkg-root
  rm -rf "$root"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status"
  dpkg_here() { dpkg --root="$root" --force-script-chrootless "$@"; }
  dpkg_here --force-depends -i "$deb" >"$work/dpkg-install.log" 2>&1 \
    || { fail "dpkg -i failed:"; cat "$work/dpkg-install.log"; }
  status=$(dpkg_here -s meterload-cli 2>&1 | grep '^Status:')
  [ "$status" = "Status: install ok installed" ] || fail "after dpkg -i: ${status:-not installed}"
  installed=$(cd "$root" && find . -not -type d -not -path './var/lib/dpkg/*' | sed 's|^\./||' | sort)
  [ "$installed" = "$(sort "$expected")" ] || { fail "installed files differ:"; diff <(sort "$expected") <(echo "$installed"); }
  version=$(env -i PATH=/usr/bin:/bin "$root/usr/bin/meterload-cli" --version 2>&1)
  [[ $version == "meterload-cli "* ]] || fail "the installed program: $version"
  dpkg_here --purge meterload-cli >"$work/dpkg-purge.log" 2>&1 \
    || { fail "dpkg --purge failed:"; cat "$work/dpkg-purge.log"; }
  left=$(cd "$root" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg*')
  [ -z "$left" ] || fail "left after dpkg --purge: $left"
  [ "$failures" -eq 0 ] && echo "installed, ran $version, purged without a trace"
  ;;

docs)
  root=$1 version=$2
  doc=$root/usr/share/doc/meterload-cli
  grep -q '^## Command line$' "$doc/README.md" || fail "README.md lacks the command line section"
  grep -q '^`install` on several instruments exits' "$doc/README.md" \
    || fail "README.md lacks the end of the command line section"
  grep -qE '^## ' <(grep -v '^## Command line$' "$doc/README.md") \
    && fail "README.md holds other sections: $(grep -E '^## ' "$doc/README.md" | paste -sd, -)"
  first=$(zcat "$doc/changelog.gz" | head -n 1)
  [[ $first == "meterload-cli ($version) "* ]] || fail "changelog names another version: $first"
  grep -q '^Copyright: [0-9]' "$doc/copyright" || fail "copyright file without a notice"
  [ "$failures" -eq 0 ] && echo "README.md, changelog.gz ($first) and copyright are in place"
  ;;

runs)
  root=$1 version=$2 corpus=$3 work=$4
  cli=$root/usr/bin/meterload-cli
  mkdir -p "$work"
  python3 "$here/make_image.py" "$work/main.bin" 02.06 1000
  missing=$(ldd "$cli" | grep 'not found')
  [ -z "$missing" ] || fail "libraries not found: $missing"
  # As a user's shell would start it: nothing of the build tree around.
  run() { env -i PATH=/usr/bin:/bin HOME="$work" "$cli" "$@"; }
  expect_run "--version" 0 "^meterload-cli $version\$" run --version
  expect_run "--help" 0 "Usage: meterload-cli .*SUBCOMMAND" run --help
  for command in list identify inspect install pack history info; do
    expect_run "$command --help" 0 "^Usage: meterload-cli $command " run $command --help
  done
  expect_run "inspect an image" 0 'Kind: +single image' run inspect "$work/main.bin"
  expect_run "inspect an image against older versions" 0 'Gate: +accepted' \
    run inspect "$work/main.bin" --firmware-version 02.05-11-07
  expect_run "inspect an older image" 4 'Gate: +refused' run inspect "$corpus/dsp_older.bin" --firmware-version 02.05-11-07
  expect_run "inspect a damaged package" 4 'The update package is damaged and cannot be installed' \
    run inspect "$corpus/table_past_the_end.pak"
  expect_run "inspect --json" 0 '"kind": "image"' run inspect "$work/main.bin" --json
  ;;

man)
  root=$1
  page=$root/usr/share/man/man1/meterload-cli.1.gz
  text=$(MANWIDTH=80 man --warnings -l "$page" 2>"${TMPDIR:-/tmp}/man-warnings.$$")
  warnings=$(cat "${TMPDIR:-/tmp}/man-warnings.$$"); rm -f "${TMPDIR:-/tmp}/man-warnings.$$"
  [ -z "$warnings" ] || fail "man reports: $warnings"
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS COMMANDS ENVIRONMENT FILES; do
    grep -q "^$heading\$" <<<"$text" || fail "no $heading section"
  done
  grep -q 'meterload-cli - update the firmware of ZQ6140 multimeters over USB' <<<"$text" || fail "NAME line"
  for command in list identify inspect install pack history info; do
    grep -qE "^   $command\$" <<<"$text" || fail "COMMANDS lacks $command"
  done
  grep -qE '^ +--all Excludes: --serial' <<<"$text" || fail "install's options are missing"
  grep -qE '^ +130 +interrupted' <<<"$text" || fail "exit codes are missing"
  [ "$failures" -eq 0 ] && echo "the manual page renders, $(wc -l <<<"$text") lines"
  ;;

*)
  echo "unknown check: $check" >&2
  exit 2
  ;;
esac
[ "$failures" -eq 0 ]
