#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a minute from the seeds and the TGA corpus;
# any crash, leak, undefined behaviour or failed check stops CI.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
need=()
for pkg in clang libclang-rt-14-dev cmake ninja-build; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    apt-get install -y -qq "${need[@]}"
fi

cmake --preset fuzz
cmake --build --preset fuzz -j2

seconds="${VARNEL_FUZZ_SECONDS:-60}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
corpus=()
if [ -d ../shared/tga-corpus ]; then
    corpus=(../shared/tga-corpus)
fi

for target in fuzz_tga_reader fuzz_conversion; do
    mkdir -p "$scratch/$target"
    cp fuzz/seeds/* "$scratch/$target/"
    echo "== $target: $seconds seconds"
    if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -max_len=16384 -print_final_stats=1 -dict=fuzz/tga.dict \
        -artifact_prefix="$scratch/$target-" "$scratch/$target" "${corpus[@]}" \
        >"$scratch/$target.log" 2>&1; then
        tail -n 60 "$scratch/$target.log"
        for artifact in "$scratch/$target"-*; do
            [ -f "$artifact" ] || continue
            echo "-- $artifact:"
            od -A d -t x1 "$artifact" | head -n 40
        done
        echo "$target failed: save the input above under fuzz/regressions/ and fix the fault"
        exit 1
    fi
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "$scratch/$target.log"
done
