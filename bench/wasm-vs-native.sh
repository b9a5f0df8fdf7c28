#!/usr/bin/env bash
# The WebAssembly decode beside the native one on the same files: the UHD
# frames of the other benchmarks (typical render and noisy, RGBA run-length)
# and the typical one as raw RGB, each decoded from memory by
# pic_image_decode (native build) and by picfile.mjs in node (web build), one
# file a process, in ROUNDS pairs of processes taking turns. Prints, per
# file, the median over the rounds of: the first decode in the process; the
# warm median, natively and in WebAssembly with the pixels copied out to a
# new buffer each time; and the WebAssembly one into a reused buffer.
#   usage: bench/wasm-vs-native.sh [ROUNDS]   (default 9)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-9}
native=$root/build/native/bin
site=$root/build/web/web/site
work=$(mktemp -d /dev/shm/wasm-vs-native.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$native/load_write_bench" --make-frame typical "$work/typical.pic"
"$native/load_write_bench" --make-frame noisy "$work/noisy.pic"
"$native/pictool" convert "$work/typical.pic" "$work/typical-rgb-raw.pic" --no-alpha --raw
files=("$work/typical.pic" "$work/noisy.pic" "$work/typical-rgb-raw.pic")

for ((round = 0; round < rounds; ++round)); do
  for file in "${files[@]}"; do
    "$native/pic_image_decode" "$file" | sed 's/^/native /'
    node "$root/bench/wasm_decode.mjs" "$site" "$file" | sed 's/^/wasm /'
  done
done >"$work/times"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# median SIDE FILE FIELD: over the rounds
over_rounds() { awk -v s="$1" -v f="$2" -v n="$3" '$1 == s && $2 == f { print $n }' "$work/times" | median; }
ratio() { awk -v w="$1" -v n="$2" 'BEGIN { printf "%.2f", w / n }'; }
echo "| file | native first | wasm first | wasm / native | native warm | wasm warm | wasm / native | wasm warm, one buffer | wasm / native |"
echo "|---|---|---|---|---|---|---|---|---|"
for file in "${files[@]}"; do
  nf=$(over_rounds native "$file" 4) wf=$(over_rounds wasm "$file" 4)
  nw=$(over_rounds native "$file" 6) ww=$(over_rounds wasm "$file" 6)
  wi=$(over_rounds wasm "$file" 8)
  echo "| $(basename "$file") | $nf | $wf | $(ratio "$wf" "$nf") | $nw | $ww | $(ratio "$ww" "$nw") | $wi | $(ratio "$wi" "$nw") |"
done
