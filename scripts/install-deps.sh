#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine:
# compilers for Linux and 32-bit Windows, Wine to run the Windows build,
# Xvfb for its dialogs, the libraries and tools the tests use, and the
# format and script checkers.
# Packages already present are left alone; nothing is installed when all are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build git python3 python3-pefile
  googletest libbenchmark-dev libpng-dev libstb-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix
  wine wine32:i386 fonts-wine xvfb xauth
  clang-format shellcheck
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
