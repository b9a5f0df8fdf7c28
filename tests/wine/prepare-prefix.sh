#!/usr/bin/env bash
# Makes a private 32-bit Wine prefix ready for our tests: Wine's own fonts
# where dialogs find them, unmanaged windows (dialogs close at once and keep
# their captions), and X11 with a fallback to no display at all.
#   usage: prepare-prefix.sh PREFIX
set -euo pipefail
prefix=${1:?usage: prepare-prefix.sh PREFIX}
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$prefix/.pic-ready" ]; then
  exit 0
fi
mkdir -p "$prefix"
wineboot --init >/dev/null 2>&1 || true
wineserver -w
mkdir -p "$prefix/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.pic-ready"
