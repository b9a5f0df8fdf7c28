#!/usr/bin/env bash
# Runs the Windows build's dialog tests and the template check under Wine on
# a virtual X display, so that the dialogs are really drawn and each test
# leaves a screenshot in BUILD_DIR/tests/screenshots/. Without a display the
# same tests also pass under run-ctest.sh (Wine's null graphics driver), just
# without screenshots.
#   usage: run-dialog-tests.sh BUILD_DIR [ctest arguments...]
set -euo pipefail
build=${1:?usage: run-dialog-tests.sh BUILD_DIR [ctest arguments...]}
shift
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$build/tests/screenshots"
status=0
xvfb-run -a -s "-screen 0 1024x768x24" \
  "$here/run-ctest.sh" "$build" -R '^(dialog_.*|template_check)$' "$@" || status=$?
for shot in "$build"/tests/screenshots/*; do
  if [ -e "$shot" ]; then echo "screenshot: ${shot##*/}"; fi
done
exit $status
