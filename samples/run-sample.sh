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
"$pictool" convert "$here/sample.png" "$out/sample.pic" --alpha --rle \
    --comment "bundled sample, made by the project"
"$pictool" convert "$out/sample.pic" "$out/sample-roundtrip.png"
"$pictool" info "$out/sample.pic"
