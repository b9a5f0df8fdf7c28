#!/usr/bin/env bash
# The main job on the bundled sample: a PNG image becomes a compressed RGBA
# PIC file with a comment and back again, all through the PIC.BMI plug-in,
# then pictool reports the PIC file's image information.
#   usage: scripts/demo.sh [OUTPUT_DIR]   (default: out/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/out}
"$root/scripts/install-deps.sh"
cmake --preset native -S "$root" >/dev/null
cmake --build --preset native >/dev/null
mkdir -p "$out"
pictool=$root/build/native/bin/pictool
set -x
"$pictool" convert "$root/samples/sample.png" "$out/sample.pic" --alpha --rle \
  --comment "bundled sample, made by the project"
"$pictool" convert "$out/sample.pic" "$out/sample-roundtrip.png"
"$pictool" info "$out/sample.pic"
