#!/usr/bin/env bash
# The WebAssembly decode beside the native one on the same files: the UHD
# frames of the other benchmarks (typical render and noisy, RGBA run-length)
# and the typical one as raw RGB, each decoded from memory by
# pic_image_decode (native build) and by picfile.mjs in node (web build), in
# ROUNDS pairs of fresh processes taking turns. Prints, per file, the median
# over the rounds of the first decode and of the warm median, and wasm/native.
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
  "$native/pic_image_decode" "${files[@]}" | sed 's/^/native /'
  node "$root/bench/wasm_decode.mjs" "$site" "${files[@]}" | sed 's/^/wasm /'
done >"$work/times"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "| file | native first | wasm first | wasm / native | native warm | wasm warm | wasm / native |"
echo "|---|---|---|---|---|---|---|"
for file in "${files[@]}"; do
  line="| $(basename "$file")"
  declare -A value=()
  for side in native wasm; do
    value[$side.first]=$(awk -v s="$side" -v f="$file" '$1 == s && $2 == f { print $4 }' "$work/times" | median)
    value[$side.warm]=$(awk -v s="$side" -v f="$file" '$1 == s && $2 == f { print $6 }' "$work/times" | median)
  done
  for kind in first warm; do
    ratio=$(awk -v w="${value[wasm.$kind]}" -v n="${value[native.$kind]}" 'BEGIN { printf "%.2f", w / n }')
    line+=" | ${value[native.$kind]} | ${value[wasm.$kind]} | $ratio"
  done
  echo "$line |"
done
