#!/usr/bin/env bash
# Runs every libFuzzer binary of a PIC_FUZZ=ON build for SECONDS each, on a
# copy of its corpus (the corpus in the tree is not changed). A crash leaves
# its input in BUILD_DIR/fuzz/artifacts/<target>/; copy it into
# fuzz/corpus/<target>/ under a name that says what was wrong, once mended.
#   usage: run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD_DIR SECONDS}
seconds=${2:?usage: run-fuzzers.sh BUILD_DIR SECONDS}
targets=$build/fuzz/targets
if [ ! -d "$targets" ] || [ -z "$(ls -A "$targets")" ]; then
    echo "no fuzz targets in $build (configure with the fuzz preset)" >&2
    exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for manifest in "$targets"/*; do
    name=$(basename "$manifest")
    { read -r binary; read -r corpus; } <"$manifest"
    if [ ! -x "$binary" ]; then
        echo "== $name: $binary is not built" >&2
        status=1
        continue
    fi
    mkdir -p "$work/$name" "$build/fuzz/artifacts/$name"
    cp -r "$corpus"/. "$work/$name"/ 2>/dev/null || true
    echo "== $name: $seconds s"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$build/fuzz/artifacts/$name/" "$work/$name" \
            >"$work/$name.log" 2>&1; then
        tail -n 60 "$work/$name.log"
        echo "== $name FAILED; inputs in $build/fuzz/artifacts/$name/" >&2
        status=1
    else
        grep -E "stat::number_of_executed_units|Done" "$work/$name.log" | tail -n 2 || true
    fi
done
exit $status
