#!/usr/bin/env bash
# Times `pictool convert` against `oiiotool` (Debian's openimageio-tools) on
# 100 frames of 1920 x 1080 RGBA PIC, to EXR and to PNG, in memory
# (/dev/shm), best of three wall-clock runs each. oiiotool gets its best
# setups: one process over the frame range (its threads on every core), and
# two processes of 50 frames each.
#   usage: bench/pictool_vs_oiiotool.sh BUILD_DIR     (e.g. build/native)
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR}
pictool=$(cd "$build" && pwd)/bin/pictool
command -v oiiotool >/dev/null || { echo "needs oiiotool (apt-get install openimageio-tools)" >&2; exit 2; }
command -v /usr/bin/python3 >/dev/null || exit 2

work=$(mktemp -d /dev/shm/pictool-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# One typical render: gradients, flat shapes, soft alpha.
/usr/bin/python3 - <<'PY'
import numpy as np
h, w = 1080, 1920
y, x = np.mgrid[0:h, 0:w]
a = np.empty((h, w, 4), np.uint8)
a[..., 0] = x * 255 // (w - 1)
a[..., 1] = y * 255 // (h - 1)
a[..., 2] = np.where((x - 900) ** 2 + (y - 500) ** 2 < 300 ** 2, 220, 40)
a[..., 3] = np.clip((x - 100) // 4, 0, 255)
open("render.pam", "wb").write(
    b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h)
    + a.tobytes())
PY
"$pictool" convert render.pam render.pic -q
for frame in $(seq 1 100); do
  cp render.pic "$(printf 'in%04d.pic' "$frame")"
done

best() { # best LABEL COMMAND...: the best of three wall-clock seconds
  local label=$1 best_time="" start end elapsed
  shift
  for _ in 1 2 3; do
    rm -f out*
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    elapsed=$(echo "$end - $start" | bc)
    if [ -z "$best_time" ] || [ "$(echo "$elapsed < $best_time" | bc)" = 1 ]; then
      best_time=$elapsed
    fi
  done
  printf '%-48s %6.2f s\n' "$label" "$best_time"
}

two_oiiotools() { # two_oiiotools EXT: frames 1-50 and 51-100 in two processes
  oiiotool --frames 1-50 'in%04d.pic' -o "out%04d.$1" &
  oiiotool --frames 51-100 'in%04d.pic' -o "out%04d.$1" &
  wait
}

for ext in exr png; do
  best "pictool --jobs 2, PIC -> ${ext^^}" \
    "$pictool" convert 'in%04d.pic' "out%04d.$ext" --frames 1-100 --jobs 2 -q
  best "oiiotool, one process, PIC -> ${ext^^}" \
    oiiotool --frames 1-100 'in%04d.pic' -o "out%04d.$ext"
  best "oiiotool, 2 processes of 50, PIC -> ${ext^^}" two_oiiotools "$ext"
done
