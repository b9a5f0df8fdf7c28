#!/usr/bin/env bash
# The main job on the bundled sample: a PNG image becomes a compressed RGBA
# PIC file with a comment and back again, all through the PIC.BMI plug-in,
# then pictool reports the PIC file's image information.
#   usage: scripts/demo.sh [OUTPUT_DIR]   (default: out/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/out}
cd "$root"
"$root/scripts/install-deps.sh" --native
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
"$root/samples/run-sample.sh" "$root/build/native" "$out"
