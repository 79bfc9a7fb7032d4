# Shell functions for running our Windows builds under Wine; sourced by the
# scripts and by the test wrappers.
#
# Debian's `wine` script always picks the 32-bit loader when wine32 is
# installed, so each build calls its loader directly: the 32-bit loader for
# x86, the 64-bit one (with WINELOADER pointing at it) for x64.

wine_loader_dir=${WINE_LOADER_DIR:-/usr/lib/wine}
wine_scripts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# wine_use ARCH PREFIX: exports WINE (the loader to call) and the settings of
# a private prefix for the x86 or x64 build.
wine_use() {
  case $1 in
    x86) WINE=$wine_loader_dir/wine; WINEARCH=win32 ;;
    x64) WINE=$wine_loader_dir/wine64; WINEARCH=win64 ;;
    *) echo "wine_use: unknown architecture '$1' (x86 or x64)" >&2; return 2 ;;
  esac
  WINELOADER=$WINE
  WINEPREFIX=$2
  WINEDEBUG=${WINEDEBUG:--all}
  WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  export WINE WINEARCH WINELOADER WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
}

# wine_prepare: sets up the prefix that wine_use chose, once (concurrent
# callers wait for the first one), and makes sure its wine server and system
# processes run.
#
# The first program of a session starts Wine's system processes, which
# inherit its standard output and live as long as the server: a test runner
# reading that output would wait for them. So they start here, detached from
# the caller's output, in a server that stays WINE_PERSIST seconds (default
# 60; empty: until it is stopped) after the last program ends.
wine_prepare() {
  if [ ! -f "$WINEPREFIX/.meterload-ready" ]; then
    mkdir -p "$WINEPREFIX"
    (
      flock 9
      [ -f "$WINEPREFIX/.meterload-ready" ] && exit 0
      # (METERLOAD_QEMU_SEGMENTS: see scripts/qemu/wine_under_qemu.c)
      METERLOAD_QEMU_SEGMENTS=off timeout 300 "$WINE" wineboot -i >/dev/null 2>&1 </dev/null || {
        echo "wine_prepare: setting up $WINEPREFIX with $WINE failed or took over 300 s" >&2
        exit 1
      }
      # The system processes that the set-up left running were started as it
      # was (under qemu, without per-thread segments); a new server starts
      # them again as every later program runs.
      timeout 30 wineserver -k >/dev/null 2>&1 || true
      timeout 30 wineserver -w >/dev/null 2>&1 || true
      touch "$WINEPREFIX/.meterload-ready"
    ) 9>"$WINEPREFIX.lock" || return 1
  fi
  wineserver -p"${WINE_PERSIST-60}" >/dev/null 2>&1 </dev/null || true
  timeout 120 "$WINE" wineboot >/dev/null 2>&1 </dev/null || true
}

# wine_path FILE: the Windows form of a path, in the chosen prefix.
wine_path() {
  "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'
}

# wine_runs_x86: whether this machine runs 32-bit programs at all; some
# kernels refuse them ("Exec format error"). Decided by running the 32-bit
# loader, a 32-bit program itself.
wine_runs_x86() {
  "$wine_loader_dir/wine" --version >/dev/null 2>&1
}

# wine_x86_refusal: why the 32-bit loader does not run, in one line.
wine_x86_refusal() {
  "$wine_loader_dir/wine" --version 2>&1 >/dev/null | tail -n 1 | sed -E 's/^.*line [0-9]+: //'
}

# wine_x86_way: how this machine runs 32-bit programs, decided by running the
# 32-bit Wine loader. Prints "native"; or "qemu" where the kernel refuses
# them but qemu-user runs them in a private binfmt_misc instance
# (qemu_i386.sh); or "none: " and why neither works.
wine_x86_way() {
  local why
  if wine_runs_x86; then
    echo native
  elif why=$(bash "$wine_scripts_dir/qemu_i386.sh" --check 2>&1); then
    echo qemu
  else
    echo "none: $(wine_x86_refusal); under qemu-user: ${why:-it did not run}"
  fi
}

# wine_x86_emulated ARCH: whether ARCH's programs run under qemu-user here
# (inside qemu_i386.sh), where a program that qemu itself ends ("qemu:
# uncaught target signal") did not run rather than failed.
wine_x86_emulated() {
  [ "$1" = x86 ] && [ -n "${METERLOAD_X86_EMULATED:-}" ]
}
