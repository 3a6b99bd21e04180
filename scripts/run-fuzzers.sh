#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs each for a bounded time, as many at once as there are cores.
#
#   run-fuzzers.sh [SECONDS]        fuzz each target for SECONDS (default 60)
#   run-fuzzers.sh --update-corpus  fold the units found by earlier runs into the committed
#                                   corpus, minimised with -merge=1
#
# A run starts from the committed corpus (fuzz/corpus/<target>) and the inputs that once
# found a fault (fuzz/corpus/regressions/<target>), so every one of them is checked again
# first; new units go to build/fuzz/corpus/<target>, never into the source tree.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=fuzz
seconds=60
case "${1:-}" in
--update-corpus) mode=update ;;
'') ;;
*) seconds="$1" ;;
esac

bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# The directories a target reads: where its new units go first (libFuzzer writes to the
# first one only), then the committed ones that exist.
corpus_dirs() {
    local name="$1" dir
    echo "build/fuzz/corpus/$name"
    for dir in "fuzz/corpus/$name" "fuzz/corpus/regressions/$name"; do
        [ -d "$dir" ] && echo "$dir"
    done
    return 0
}

fuzz_one() {
    local fuzzer="$1" name dirs
    name="$(basename "$fuzzer")"
    mapfile -t dirs < <(corpus_dirs "$name")
    mkdir -p "${dirs[0]}"
    # An input that takes longer than -timeout is reported as a hang: the inputs are at
    # most a few KiB of text, which any of these functions handles in microseconds.
    JX_LOG_FILE=/dev/null "$fuzzer" -max_total_time="$seconds" -timeout=30 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/$name-" "${dirs[@]}" \
        >"build/fuzz/$name.log" 2>&1
}

update_one() {
    local fuzzer="$1" name merged
    name="$(basename "$fuzzer")"
    merged="build/fuzz/merged/$name"
    rm -rf "$merged"
    mkdir -p "$merged" "build/fuzz/corpus/$name" "fuzz/corpus/$name"
    # Merging into an empty directory keeps the smallest set of units that covers what
    # the committed corpus and the new units cover together.
    JX_LOG_FILE=/dev/null "$fuzzer" -merge=1 "$merged" "fuzz/corpus/$name" \
        "build/fuzz/corpus/$name" >"build/fuzz/$name-merge.log" 2>&1
    find "fuzz/corpus/$name" -maxdepth 1 -type f -delete
    cp "$merged"/* "fuzz/corpus/$name/"
    echo "$name: $(find "fuzz/corpus/$name" -type f | wc -l) units in fuzz/corpus/$name"
}

fuzzers=()
for fuzzer in build/fuzz/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] && fuzzers+=("$fuzzer")
done
[ "${#fuzzers[@]}" -gt 0 ] || { echo "no fuzzers were built" >&2; exit 1; }

if [ "$mode" = update ]; then
    for fuzzer in "${fuzzers[@]}"; do
        update_one "$fuzzer"
    done
    exit 0
fi

# Run the targets in batches of one per core; report each once its batch has ended.
failed=0
batch=$(nproc)
for ((first = 0; first < ${#fuzzers[@]}; first += batch)); do
    pids=()
    for fuzzer in "${fuzzers[@]:first:batch}"; do
        echo "fuzzing $(basename "$fuzzer") for ${seconds}s"
        fuzz_one "$fuzzer" &
        pids+=($!)
    done
    for i in "${!pids[@]}"; do
        fuzzer="${fuzzers[first + i]}"
        name="$(basename "$fuzzer")"
        if wait "${pids[i]}"; then
            awk -v name="$name" '/^stat::number_of_executed_units/ { runs = $2 }
                /^stat::new_units_added/ { added = $2 }
                END { print name ": " runs " executions, " added " new units" }' \
                "build/fuzz/$name.log"
        else
            tail -n 60 "build/fuzz/$name.log"
            echo "$name failed; the input that failed is named in the lines above" >&2
            failed=1
        fi
    done
done
exit "$failed"
