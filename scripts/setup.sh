#!/usr/bin/env bash
# Installs what building, running and testing MeterLoad need, from Debian's
# packages; does nothing for packages already installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev libgtest-dev googletest
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine32:i386 wine64 fonts-wine xvfb xauth x11-apps x11-utils imagemagick
  python3 python3-pyvisa
  libcli11-dev nlohmann-json3-dev nettle-dev
  libusb-1.0-0-dev umockdev libumockdev-dev
  dpkg-dev file lintian help2man man-db ansible-core
  nsis zip unzip
  qemu-user-static
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
