#!/usr/bin/env bash
# The main job on the bundled sample: PNG -> PIC (RGBA, run-length coded, with
# a comment) -> PNG, all through PIC.BMI, then the PIC file's image
# information as the plug-in reads it.
#   usage: samples/run-sample.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=${1:?usage: run-sample.sh BUILD_DIR OUT_DIR}
out=${2:?usage: run-sample.sh BUILD_DIR OUT_DIR}
here=$(cd "$(dirname "$0")" && pwd)
pictool="$build/bin/pictool"
mkdir -p "$out"

set -x
"$pictool" convert "$here/gradient-shapes.png" "$out/gradient-shapes.pic" \
    --alpha --rle --comment "bundled sample"
"$pictool" convert "$out/gradient-shapes.pic" "$out/gradient-shapes-back.png"
"$pictool" info "$out/gradient-shapes.pic"
