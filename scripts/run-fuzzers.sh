#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs each for a bounded time, as many at once as there are cores.
#
#   run-fuzzers.sh [SECONDS]        fuzz each target for SECONDS (default 60)
#   run-fuzzers.sh --update-corpus  fold the units found by earlier runs into the committed
#                                   corpus, minimised with -merge=1, when they add coverage
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

bash scripts/setup.sh fuzz
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

# merge_features OUT DIR...: merges the DIRs into the empty directory OUT with -merge=1,
# which keeps the smallest set of units that covers what all of them cover, and prints
# the number of coverage features that set reaches.
merge_features() {
    local fuzzer="$1" out="$2" log="$2.log"
    shift 2
    rm -rf "$out"
    mkdir -p "$out"
    JX_LOG_FILE=/dev/null "$fuzzer" -merge=1 "$out" "$@" >"$log" 2>&1
    sed -n 's/^MERGE-OUTER: [0-9]* new files with \([0-9]*\) new features added.*/\1/p' "$log"
}

# The committed corpus is replaced only when the new units reach more: merging rearranges
# the set, so an update without new coverage would only churn the tree.
update_one() {
    local fuzzer="$1" name before after
    name="$(basename "$fuzzer")"
    mkdir -p "build/fuzz/corpus/$name" "fuzz/corpus/$name"
    before=$(merge_features "$fuzzer" "build/fuzz/merged/$name-committed" "fuzz/corpus/$name")
    after=$(merge_features "$fuzzer" "build/fuzz/merged/$name" "fuzz/corpus/$name" \
        "build/fuzz/corpus/$name")
    if [ "${after:-0}" -gt "${before:-0}" ]; then
        find "fuzz/corpus/$name" -maxdepth 1 -type f -delete
        cp "build/fuzz/merged/$name"/* "fuzz/corpus/$name/"
        echo "$name: $before -> $after features," \
            "$(find "fuzz/corpus/$name" -type f | wc -l) units in fuzz/corpus/$name"
    else
        echo "$name: no new coverage ($before features), fuzz/corpus/$name unchanged"
    fi
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
