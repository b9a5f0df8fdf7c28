#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine.
#   usage: scripts/install-deps.sh [--native]
# By default: compilers for Linux and 32-bit Windows, Wine to run the Windows
# build, Xvfb for its dialogs, emscripten and Chromium for the web build,
# Eye of GNOME for the screenshots, and the libraries and tools the tests use.
# With --native: only what the native build (with its tests and benchmarks,
# the picfile Python package and the desktop's gdk-pixbuf loader) and the
# demo need; no i386 architecture, no Wine. The full set also has the format
# and script checkers.
# Packages already present are left alone; nothing is installed when all are.
set -euo pipefail

native=(
  build-essential cmake ninja-build git python3
  help2man googletest libbenchmark-dev libpng-dev libjpeg-dev libstb-dev libtiff-dev libopenexr-dev
  acl attr imagemagick pngcheck libtiff-tools openexr
  python3-dev pybind11-dev python3-pybind11 python3-setuptools python3-pip python3-venv
  python3-numpy python3-pil python3-imageio python3-distributed python3-pytest
  pkg-config libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info libglib2.0-bin
  python3-gi gir1.2-gdkpixbuf-2.0
)
everything=(
  "${native[@]}" python3-pefile python3-openimageio
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix
  wine wine32:i386 fonts-wine xvfb xauth
  clang-format shellcheck
  emscripten chromium eog dbus-daemon x11-utils
)

case "${1:-}" in
  --native) packages=("${native[@]}") ;;
  "") packages=("${everything[@]}") ;;
  *) echo "usage: $0 [--native]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
# npm comes with node where node is not Debian's (node's own packages, as
# on this project's machines, conflict with Debian's npm); Debian's npm
# only where there is none.
if [ -z "${1:-}" ] && ! command -v npm >/dev/null; then
  missing+=(npm)
fi
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
# Only Wine's 32-bit half needs the i386 architecture.
for package in "${missing[@]}"; do
  if [[ $package == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
    break
  fi
done
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
