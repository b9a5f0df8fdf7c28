#!/usr/bin/env bash
# Runs the libFuzzer binaries of a PIC_FUZZ=ON build for SECONDS each (all
# of them, or the TARGETs named), each on its corpus. Without KEEP_DIR the
# corpus is a copy, dropped afterwards (the corpus in the tree is not
# changed). With KEEP_DIR, KEEP_DIR/<target>/ holds the corpus from one run
# to the next: seeded from the tree's, it keeps every input the fuzzer finds,
# and crash and hang inputs go to KEEP_DIR/<target>-crashes/, so that long
# runs can go on for days in pieces. Without it a crash leaves its input in
# BUILD_DIR/fuzz/artifacts/<target>/. Once mended, a crash or hang input
# goes to fuzz/regressions/ with the outcome it must now give.
#   usage: run-fuzzers.sh BUILD_DIR SECONDS [KEEP_DIR [TARGET...]]
set -euo pipefail
usage="usage: run-fuzzers.sh BUILD_DIR SECONDS [KEEP_DIR [TARGET...]]"
build=${1:?$usage}
seconds=${2:?$usage}
keep=${3:-}
shift $(($# < 3 ? $# : 3))
targets=$build/fuzz/targets
if [ ! -d "$targets" ] || [ -z "$(ls -A "$targets")" ]; then
    echo "no fuzz targets in $build (configure with the fuzz preset)" >&2
    exit 2
fi
manifests=()
if [ $# -eq 0 ]; then
    manifests=("$targets"/*)
else
    for name in "$@"; do
        if [ ! -f "$targets/$name" ]; then
            echo "no fuzz target $name in $build" >&2
            exit 2
        fi
        manifests+=("$targets/$name")
    done
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for manifest in "${manifests[@]}"; do
    name=$(basename "$manifest")
    { read -r binary; read -r corpus; } <"$manifest"
    if [ ! -x "$binary" ]; then
        echo "== $name: $binary is not built" >&2
        status=1
        continue
    fi
    if [ -n "$keep" ]; then
        inputs=$keep/$name
        artifacts=$keep/$name-crashes
    else
        inputs=$work/$name
        artifacts=$build/fuzz/artifacts/$name
    fi
    mkdir -p "$inputs" "$artifacts"
    cp -rn "$corpus"/. "$inputs"/ 2>/dev/null || true
    before=$(find "$inputs" -type f | wc -l)
    echo "== $name: $seconds s"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$artifacts/" "$inputs" >"$work/$name.log" 2>&1; then
        tail -n 60 "$work/$name.log"
        echo "== $name FAILED; inputs in $artifacts/" >&2
        status=1
    else
        grep -E "stat::number_of_executed_units|Done" "$work/$name.log" | tail -n 2 || true
    fi
    if [ -n "$keep" ]; then
        echo "   $(($(find "$inputs" -type f | wc -l) - before)) new inputs kept in $inputs"
    fi
done
exit $status
