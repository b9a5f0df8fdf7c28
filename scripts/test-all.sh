#!/usr/bin/env bash
# Checks the sources, builds every configuration and runs every test:
#   checks  clang-format (no file differs from .clang-format), shellcheck on
#           every shell script, and the include layering (check-includes.sh)
#   native  g++, optimised: unit, integration and pictool tests, fuzz replays,
#           the picfile Python package with its pytest suite (a local Dask
#           cluster of two worker processes among it), and the desktop's
#           gdk-pixbuf loader, installed, in GdkPixbuf, gio and the thumbnailer
#   asan    g++ with AddressSanitizer + UndefinedBehaviorSanitizer: the same tests
#   tsan    g++ with ThreadSanitizer: the same tests, for what runs threads:
#           pictool --jobs and the host stand-in's shared state
#   fuzz    clang with libFuzzer: each fuzzer for a short run on its corpus
#   win32   mingw-w64 i686: the same tests plus the plug-in's own, under Wine,
#           with dialogs in real windows on a virtual X display
#   web     emscripten: picfile.wasm, picfile.mjs and the viewer page, tested
#           in node and in headless Chromium against the native pictool
#           (the native build is made first)
# Exits non-zero when any build or test fails.
#   usage: scripts/test-all.sh [checks|native|asan|tsan|fuzz|win32|web]...   (default: all)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
"$root/scripts/install-deps.sh" || exit 1

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(checks native asan tsan fuzz win32 web)
fuzz_seconds=${PIC_FUZZ_SECONDS:-45}
passed=0
failed=0
failures=()

record() {  # record NAME STATUS
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$1")
  fi
}

build() {  # build PRESET
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# Tracked shell scripts: *.sh and any other file that starts with a shell's #!.
shell_scripts() {
  local file first
  while IFS= read -r file; do
    if [[ $file == *.sh ]]; then
      echo "$file"
    elif IFS= read -r first <"$file" && [[ $first =~ ^\#!.*[/\ ](ba)?sh$ ]]; then
      echo "$file"
    fi
  done < <(git ls-files)
}

checks() {
  local status=0 sources scripts
  mapfile -t sources < <(git ls-files '*.cpp' '*.h')
  clang-format --dry-run --Werror "${sources[@]}" || status=1
  echo "format: ${#sources[@]} C++ files checked"
  mapfile -t scripts < <(shell_scripts)
  shellcheck "${scripts[@]}" || status=1
  echo "shellcheck: ${#scripts[@]} scripts checked"
  scripts/check-includes.sh || status=1
  return $status
}

for config in "${configs[@]}"; do
  echo "=== $config ==="
  case $config in
    checks)
      checks
      record checks $? ;;
    native|asan|tsan)
      build "$config" && ctest --preset "$config"
      record "$config" $? ;;
    fuzz)
      build fuzz && ctest --preset fuzz && fuzz/run-fuzzers.sh build/fuzz "$fuzz_seconds"
      record fuzz $? ;;
    win32)
      export WINEPREFIX=${WINEPREFIX:-$root/build/wine-prefix}
      build win32 && xvfb-run -a -s "-screen 0 1024x768x24" tests/wine/run-ctest.sh build/win32
      record win32 $? ;;
    web)
      build native && build web && ctest --preset web
      record web $? ;;
    *)
      echo "unknown configuration: $config" >&2
      exit 2 ;;
  esac
done

echo
if [ $failed -ne 0 ]; then
  echo "failed configurations: ${failures[*]}"
fi
echo "configurations: $passed passed, $failed failed"
[ $failed -eq 0 ]
