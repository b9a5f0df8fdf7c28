#!/usr/bin/env bash
# Runs the Windows build's tests under Wine. The wine server and one idle
# Wine process stay up for the whole run, with their output detached, so that
# no test hands Wine's background services ctest's output pipe.
#   usage: run-ctest.sh BUILD_DIR [ctest arguments...]
set -euo pipefail
build=${1:?usage: run-ctest.sh BUILD_DIR [ctest arguments...]}
shift
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(cd "$here/../.." && pwd)/build/wine-prefix}
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$here/prepare-prefix.sh" "$WINEPREFIX"

wineserver -p
fifo=$(mktemp -u)
mkfifo "$fifo"
wine cmd <"$fifo" >/dev/null 2>&1 &
exec 9>"$fifo"
rm -f "$fifo"
# One complete Wine start before the tests, so that none of them pays for it.
wine cmd /c exit >/dev/null 2>&1 || true
status=0
ctest --test-dir "$build" --timeout 180 --output-on-failure "$@" || status=$?
exec 9>&-
wineserver -k || true
wineserver -w || true
exit $status
