#!/usr/bin/env bash
# Runs a command in which every 32-bit x86 program runs under qemu-user:
# a user namespace of its own (no privileges needed) with a binfmt_misc
# instance of its own, where i386 ELF programs are handed to
# qemu-i386-static. Nothing outside the command changes.
#
#   qemu_i386.sh CMD [ARGS...]   runs CMD there; exits 125 when it cannot
#                                be set up, with the reason on stderr
#   qemu_i386.sh --check         exits 0 when the 32-bit Wine loader runs
#                                there, else says why on stderr
#
# Every program of the command also preloads scripts/qemu/wine_under_qemu.c,
# built here once per build folder (METERLOAD_QEMU_DIR, default build/qemu),
# which keeps qemu from spending about 50 s of CPU on each Wine start and
# Wine from ending a thread whose stack grows (see there).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
qemu=${METERLOAD_QEMU:-/usr/bin/qemu-i386-static}
dir=${METERLOAD_QEMU_DIR:-$here/../build/qemu}

if [ "${1:-}" = --inside ]; then
  shift
  # qemu's own magic and mask for i386 ELF executables; F: qemu is opened
  # now, so that it is found whatever the program's root or namespace.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null \
    || { echo "qemu_i386: binfmt_misc cannot be mounted in a user namespace here" >&2; exit 125; }
  printf ':meterload-i386:M::%s:%s:%s:F' "$magic" "$mask" "$qemu" >/proc/sys/fs/binfmt_misc/register 2>/dev/null \
    || { echo "qemu_i386: registering $qemu for i386 programs was refused" >&2; exit 125; }
  export LD_PRELOAD="$dir/\$LIB/wine_under_qemu.so${LD_PRELOAD:+:$LD_PRELOAD}"
  # For the tests that cannot run under qemu-user, to say so (see
  # wine_env.sh's wine_x86_emulated).
  METERLOAD_X86_EMULATED="$("$qemu" --version | head -n 1)"
  export METERLOAD_X86_EMULATED
  exec "$@"
fi

[ -x "$qemu" ] || { echo "qemu_i386: $qemu is missing (Debian package qemu-user-static)" >&2; exit 125; }

# The preloaded library, for both word sizes: $LIB picks the one that fits
# each program, so no program is told that a library could not be loaded.
source_file=$here/qemu/wine_under_qemu.c
build_shim() {
  local target=$1 lib=$2 out
  out=$dir/$lib/wine_under_qemu.so
  [ "$out" -nt "$source_file" ] && return 0
  mkdir -p "$dir/$lib"
  clang --target="$target" -O2 -fPIC -shared -nostdlib -Wall -Werror -o "$out.tmp" "$source_file" \
    && mv "$out.tmp" "$out"
}
build_shim i386-linux-gnu lib/i386-linux-gnu && build_shim x86_64-linux-gnu lib/x86_64-linux-gnu \
  || { echo "qemu_i386: building $source_file failed" >&2; exit 125; }

if [ "${1:-}" = --check ]; then
  out=$(unshare --user --map-root-user --mount --fork bash "$0" --inside \
          /usr/lib/wine/wine --version 2>&1)
  status=$?
  [ "$status" -eq 0 ] && exit 0
  echo "${out##*$'\n'}" >&2
  exit 1
fi

command -v unshare >/dev/null || { echo "qemu_i386: unshare is missing" >&2; exit 125; }
exec unshare --user --map-root-user --mount --fork bash "$0" --inside "$@"
