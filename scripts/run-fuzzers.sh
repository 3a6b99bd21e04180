#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs each for a bounded time (seconds, default 30) on a corpus kept under build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"

bash scripts/setup.sh
cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"
for fuzzer in build/fuzz/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name="$(basename "$fuzzer")"
    corpus="build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    log="build/fuzz/$name.log"
    echo "fuzzing $name for ${seconds}s"
    if ! JX_LOG_FILE=/dev/null "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build/fuzz/$name-" \
        "$corpus" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "$name failed; the input that failed is named in the lines above" >&2
        exit 1
    fi
    grep -E '^(Done|stat::number_of_executed_units)' "$log"
done
