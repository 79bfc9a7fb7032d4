#!/usr/bin/env bash
# Runs a Windows test program of our cross builds under Wine, in the build's
# own prefix (set up on first use). Usage: wine_emulator.sh ARCH PREFIX PROGRAM [ARGS...]
set -euo pipefail
. "$(dirname "$0")/../scripts/wine_env.sh"
wine_use "$1" "$2"
shift 2
wine_prepare
exec "$WINE" "$@"
