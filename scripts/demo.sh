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
# The same PIC file in Python: picfile reads it into a numpy array, with the
# pixels the plug-in wrote back to PNG.
PYTHONPATH="$root/build/native/python" /usr/bin/python3 - "$out" <<'PY'
import sys
import numpy
from PIL import Image
import picfile
out = sys.argv[1]
pixels = picfile.imread(f"{out}/sample.pic")
with picfile.PicFile(f"{out}/sample.pic") as pic:
    comment = pic.comment_text
same = numpy.array_equal(pixels, numpy.asarray(Image.open(f"{out}/sample-roundtrip.png")))
print(f"picfile.imread: {pixels.shape} {pixels.dtype}, comment {comment!r}, "
      f"same pixels as sample-roundtrip.png: {same}")
PY
