#!/usr/bin/env bash
# First calls as a host sees them, in one run: each figure is the least of
# five fresh processes, each timing its one call, on the two 3840 x 2160
# frames as compressed RGBA files in memory (/dev/shm).
#
#   plug-in, plain host   load_write_bench --first-call, storage from the heap
#   plug-in under Wine    pictool.exe --json driverMs: PIC.BMI in a Windows process
#   pictool's host        load_write_bench --storage=huge: storage on huge pages
#   floor                 pic_floor, natively and under Wine: read the file and
#                         write a fresh plain storage once (load); read a warm
#                         storage and write the file's bytes to a new file (write)
#   peers (load only)     stb_image (peer_load), KImageFormats through Qt (qt_load.py)
#
# A peer or build that is missing prints "-". Needs the native preset
# (PIC_BENCH) and, for the Wine columns, the win32 preset and Wine.
#   usage: bench/first-calls.sh [NATIVE_BUILD [WIN32_BUILD]]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(cd "${1:-$root/build/native}" && pwd)/bin
win32=$(cd "${2:-$root/build/win32}" 2>/dev/null && pwd)/bin
runs=5
work=$(mktemp -d /dev/shm/pic-first-calls.XXXXXX)
trap 'rm -rf "$work"' EXIT

export WINEPREFIX=${WINEPREFIX:-$root/build/wine-prefix}
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
have_wine=0
if [ -x "$win32/pictool.exe" ] && command -v wine >/dev/null; then
  "$root/tests/wine/prepare-prefix.sh" "$WINEPREFIX" && have_wine=1
  wineserver -p
fi

# least CLEAN CMD...: runs CMD $runs times, removing CLEAN (a file, or "")
# before each; each run prints its milliseconds first on its last line. Prints
# the least, or -.
least() {
  local clean=$1 best="" ms
  shift
  for _ in $(seq "$runs"); do
    [ -z "$clean" ] || rm -f "$clean"
    ms=$("$@" 2>/dev/null | tr -d '\r' | tail -n 1 | awk '{ print $1 }') || { echo "-"; return; }
    [[ $ms =~ ^[0-9.]+$ ]] || { echo "-"; return; }
    if [ -z "$best" ] || awk "BEGIN { exit !($ms < $best) }"; then
      best=$ms
    fi
  done
  awk "BEGIN { printf \"%.1f\", $best }"
}

# pictool.exe's own timing of its driver call, from its JSON summary.
driver_ms() {
  wine "$win32/pictool.exe" "$@" --json --quiet | sed -n 's/.*"driverMs": *\([0-9.]*\).*/\1/p'
}

ratio() { # ratio A B: A / B to two places, or - where either is missing
  if [[ $1 =~ ^[0-9.]+$ && $2 =~ ^[0-9.]+$ ]]; then
    awk "BEGIN { printf \"%.2f\", $1 / $2 }"
  else
    echo "-"
  fi
}

printf '| first call, ms | frame | plain host | DLL, Wine | pictool host | floor | floor, Wine | stb_image | KImageFormats | plain / floor | Wine / floor, Wine | Wine / plain | fastest peer / pictool host |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|---|---|\n'
for kind in typical noisy; do
  pic=$work/$kind.pic
  pam=$work/$kind.pam
  "$native/load_write_bench" --make-frame "$kind" "$pic" || exit 1
  "$native/pictool" convert "$pic" "$pam" --quiet || exit 1
  bytes=$(stat -c %s "$pic")

  # Loads.
  plain=$(least "" "$native/load_write_bench" --first-call load "$kind" "$pic")
  huge=$(least "" "$native/load_write_bench" --storage=huge --first-call load "$kind" "$pic")
  floor=$(least "" "$native/pic_floor" load "$pic")
  wine_ms=- wine_floor=-
  if [ $have_wine -eq 1 ]; then
    wine_ms=$(least "$work/out.pam" driver_ms convert "Z:$pic" "Z:$work/out.pam")
    wine_floor=$(least "" wine "$win32/pic_floor.exe" load "Z:$pic")
  fi
  stb=-
  [ -x "$native/peer_load" ] && stb=$(least "" "$native/peer_load" "$pic")
  qt=$(least "" /usr/bin/python3 "$root/bench/qt_load.py" "$pic")
  peer=$(printf '%s\n' "$stb" "$qt" | grep -E '^[0-9.]+$' | sort -g | head -n 1)
  printf '| LoadImage | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' \
    "$kind" "$plain" "$wine_ms" "$huge" "$floor" "$wine_floor" "$stb" "$qt" \
    "$(ratio "$plain" "$floor")" "$(ratio "$wine_ms" "$wine_floor")" \
    "$(ratio "$wine_ms" "$plain")" "$(ratio "${peer:--}" "$huge")"

  # Writes, each to a new file.
  out=$work/written.pic
  plain=$(least "$out" "$native/load_write_bench" --first-call write "$kind" "$out")
  huge=$(least "$out" "$native/load_write_bench" --storage=huge --first-call write "$kind" "$out")
  floor=$(least "$out" "$native/pic_floor" write "$out" 3840 2160 "$bytes")
  wine_ms=- wine_floor=-
  if [ $have_wine -eq 1 ]; then
    wine_ms=$(least "$out" driver_ms convert "Z:$pam" "Z:$out" --rle --alpha)
    wine_floor=$(least "$out" wine "$win32/pic_floor.exe" write "Z:$out" 3840 2160 "$bytes")
  fi
  printf '| WriteFrame | %s | %s | %s | %s | %s | %s | - | - | %s | %s | %s | - |\n' \
    "$kind" "$plain" "$wine_ms" "$huge" "$floor" "$wine_floor" \
    "$(ratio "$plain" "$floor")" "$(ratio "$wine_ms" "$wine_floor")" "$(ratio "$wine_ms" "$plain")"
done
[ $have_wine -eq 0 ] || wineserver -k 2>/dev/null || true
