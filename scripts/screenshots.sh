#!/usr/bin/env bash
# Takes the screenshots in docs/ of PIC files where people look at pictures,
# both showing the bundled sample made into a PIC file by pictool:
#   docs/eog-sample.png         Eye of GNOME, under Xvfb, through the desktop
#                               loader installed into a scratch prefix
#   docs/web-viewer-sample.png  the viewer page in headless Chromium, with the
#                               same file cut short after its first half
# Needs the native and web builds (scripts/test-all.sh native web makes both).
#   usage: scripts/screenshots.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$root/build/native
web=$root/build/web/web
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$native/bin/pictool" convert "$root/samples/sample.png" "$work/sample.pic" --alpha --rle \
  --comment "bundled sample, made by the project"

# Eye of GNOME: the PIC type and loader from a fresh install, nothing else.
cmake --install "$native" --prefix "$work/prefix" >/dev/null
cache=$(find "$work/prefix/lib" -name loaders.cache)
cat >"$work/eog.sh" <<SHOT
eog "$work/sample.pic" >"$work/eog.log" 2>&1 &
viewer=\$!
sleep 8
window=\$(xwininfo -root -tree | awk '/"sample.pic": \("eog"/ { print \$1; exit }')
import -window "\$window" -frame "$root/docs/eog-sample.png"
kill "\$viewer"
SHOT
XDG_DATA_DIRS="$work/prefix/share:/usr/local/share:/usr/share" XDG_DATA_HOME="$work/data" \
  GDK_PIXBUF_MODULE_FILE=$cache \
  xvfb-run -a -s "-screen 0 800x600x24" dbus-run-session bash "$work/eog.sh"

# The viewer page, with the sample whole and cut short.
head -c 60000 "$work/sample.pic" >"$work/sample-cut.pic"
PICFILE_SITE=$web/site PIC_NODE_MODULES=$web/npm node "$root/web/tests/screenshot.mjs" \
  "$root/docs/web-viewer-sample.png" "$work/sample.pic" "$work/sample-cut.pic"
echo "screenshots: docs/eog-sample.png docs/web-viewer-sample.png"
