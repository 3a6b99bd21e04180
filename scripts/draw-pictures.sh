#!/usr/bin/env bash
# Draws the documentation's pictures from their text sources under docs/pictures with
# Debian's tools (graphviz for the diagrams, gnuplot for the plots) and stamps each SVG
# with two SHA-256 sums: of its sources, and of its body as drawn (the SVG without the
# stamp lines). Fonts lay out differently from machine to machine, so a picture is never
# compared with a fresh drawing byte for byte: the source stamp says which sources it was
# drawn from, the body stamp that nobody changed it since.
#
#   bash scripts/draw-pictures.sh          redraw every picture in docs/pictures
#   bash scripts/draw-pictures.sh --check  fail when a committed picture's stamps do not
#                                          match its sources and its body, prove on copies
#                                          that a hand edit and a changed source are both
#                                          caught, and draw them all into a temporary
#                                          directory to prove the script works
#
# The launch-cost plot reads the launch benchmark's JSON (BM_ParentSize rows: the median
# of the repetitions as the bar, their least and greatest as its whisker). To measure
# again and redraw:
#   bash scripts/draw-pictures.sh --measure [REPETITIONS]   (default 7)
# runs the benchmark once per parent size (its memory can only grow), each launch
# REPETITIONS times, the repetitions of all launches interleaved at random so that a
# change of load on a shared machine falls on all of them alike.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh pictures
pictures=docs/pictures

# Each picture: its name, then its sources (the first one is what the tool reads).
picture_list() {
    echo "launch-sequence launch-sequence.dot"
    echo "pipe-wiring pipe-wiring.dot"
    echo "exit-status exit-status.gp"
    echo "launch-cost launch-cost.gp launch-cost.json"
}

fail() {
    echo "draw-pictures: $*" >&2
    exit 1
}

sources_hash() {
    local source
    for source in "$@"; do
        [ -f "$pictures/$source" ] || fail "missing source $pictures/$source"
    done
    (cd "$pictures" && cat "$@") | sha256sum | cut -d' ' -f1
}

# stamp_of KIND SVG: the sum the SVG carries for KIND (source or body).
stamp_of() {
    sed -n "s/^<!-- $1-sha256: \([0-9a-f]*\) -->\$/\1/p" "$2" | head -n 1
}

# The SVG without its stamp lines: what the tool drew.
body_hash() {
    grep -Ev '^<!-- (source|body)-sha256: [0-9a-f]* -->$' "$1" | sha256sum | cut -d' ' -f1
}

# The benchmark's rows BM_ParentSize/<launch>/<MiB> as a table for gnuplot: per size, for
# each launch, the median, least and greatest time of its repetitions.
launch_cost_table() {
    python3 - "$1" <<'PY'
import json, statistics, sys
order = ["PosixSpawn", "InitializeLinux", "Initialize", "InitializeLinuxForked", "InitializeForked"]
scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
rows = {}
for bench in json.load(open(sys.argv[1]))["benchmarks"]:
    parts = bench["name"].split("/")
    if parts[0] != "BM_ParentSize" or bench.get("run_type", "iteration") != "iteration":
        continue
    rows.setdefault(int(parts[2]), {}).setdefault(parts[1], []).append(
        bench["real_time"] * scale[bench["time_unit"]])
if not rows:
    sys.exit("no BM_ParentSize rows in " + sys.argv[1])
counts = sorted({len(times) for sizes in rows.values() for times in sizes.values()})
print("# repetitions:", counts[0] if len(counts) == 1 else "%d-%d" % (counts[0], counts[-1]))
for mib in sorted(rows):
    missing = [name for name in order if name not in rows[mib]]
    if missing:
        sys.exit("no BM_ParentSize/%s/%d in %s" % (missing[0], mib, sys.argv[1]))
    cells = []
    for name in order:
        times = rows[mib][name]
        cells += ["%.1f" % statistics.median(times), "%.1f" % min(times), "%.1f" % max(times)]
    print(mib, *cells)
PY
}

# measure_launch_cost REPETITIONS: runs the launch benchmark's BM_ParentSize rows into
# $pictures/launch-cost.json, one process per parent size.
measure_launch_cost() {
    local repetitions="$1" bench=build/default/bench/childprocess/bench_childprocess mib parts
    cmake --preset default >/dev/null
    cmake --build --preset default --target bench_childprocess ifxtest_child_helper
    parts="$(mktemp -d)"
    for mib in 0 512 2048; do
        echo "draw-pictures: measuring at $mib MiB, $repetitions repetitions of each launch"
        "$bench" --benchmark_filter="^BM_ParentSize/[A-Za-z]+/$mib/" \
            --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
            --benchmark_min_time=1 --benchmark_report_aggregates_only=false \
            --benchmark_out="$parts/$mib.json" --benchmark_out_format=json >/dev/null
    done
    python3 - "$parts" "$pictures/launch-cost.json" <<'PY'
import json, os, sys
merged = None
for mib in (0, 512, 2048):
    part = json.load(open(os.path.join(sys.argv[1], "%d.json" % mib)))
    if merged is None:
        merged = part
        merged["context"]["load_avg_per_size"] = {}
    else:
        merged["benchmarks"] += part["benchmarks"]
    merged["context"]["load_avg_per_size"][str(mib)] = part["context"].get("load_avg")
with open(sys.argv[2], "w") as out:
    json.dump(merged, out, indent=2)
    out.write("\n")
PY
    rm -rf "$parts"
}

# draw NAME SOURCE... into the directory $out.
draw() {
    local name="$1" main="$2" target="$out/$1.svg" drawn
    drawn="$(mktemp)"
    case "$main" in
        *.dot) dot -Tsvg "$pictures/$main" -o "$drawn" ;;
        *.gp)
            local data="$drawn.data"
            local repetitions=""
            if [ "$#" -gt 2 ]; then
                launch_cost_table "$pictures/$3" >"$data"
                repetitions="$(sed -n 's/^# repetitions: //p' "$data")"
            fi
            gnuplot -e "OUTPUT='$drawn'; DATA='$data'; REPETITIONS='$repetitions'" "$pictures/$main"
            rm -f "$data"
            ;;
        *) fail "no tool for $main" ;;
    esac
    grep -q '<svg' "$drawn" || fail "$main drew no SVG"
    grep -Eq '^<!-- (source|body)-sha256: ' "$drawn" && fail "$main drew a line like a stamp"
    # The stamps go right after the XML declaration.
    {
        head -n 1 "$drawn"
        echo "<!-- source-sha256: $(sources_hash "${@:2}") -->"
        echo "<!-- body-sha256: $(body_hash "$drawn") -->"
        tail -n +2 "$drawn"
    } >"$target"
    rm -f "$drawn"
}

# check_pictures: 0 when every picture in $pictures carries the stamps of its sources and
# of its body as they are, 1 (having said why) when not.
check_pictures() {
    local status=0 name sources list svg
    while read -r name sources; do
        read -r -a list <<<"$sources"
        svg="$pictures/$name.svg"
        if [ ! -f "$svg" ]; then
            echo "draw-pictures: $svg is missing: run bash scripts/draw-pictures.sh" >&2
            status=1
        elif [ "$(stamp_of source "$svg")" != "$(sources_hash "${list[@]}")" ]; then
            echo "draw-pictures: $svg was not drawn from its sources as they are now:" \
                "run bash scripts/draw-pictures.sh and commit it" >&2
            status=1
        elif [ "$(stamp_of body "$svg")" != "$(body_hash "$svg")" ]; then
            echo "draw-pictures: $svg was changed since it was drawn: change its sources" \
                "instead and run bash scripts/draw-pictures.sh" >&2
            status=1
        fi
    done < <(picture_list)
    # Listed first and then searched: grep -q would end the list early, and pipefail would
    # take that for a picture not listed.
    local listed
    listed="$(picture_list | cut -d' ' -f1)"
    for svg in "$pictures"/*.svg; do
        grep -qx "$(basename "$svg" .svg)" <<<"$listed" ||
            { echo "draw-pictures: $svg has no sources listed here" >&2; status=1; }
    done
    return "$status"
}

# The check itself must fail where it should: on copies of the pictures, a hand edit of
# each picture's body and a change of each picture's first source must each be caught.
prove_check_catches_edits() {
    local committed="$pictures" copy name sources list
    copy="$(mktemp -d)"
    while read -r name sources; do
        read -r -a list <<<"$sources"
        for edit in "body $name.svg" "source ${list[0]}"; do
            rm -rf "$copy/pictures"
            cp -r "$committed" "$copy/pictures"
            # One digit changed past the file's head, as a hand edit of a value would.
            awk '!done && FNR > 4 && match($0, /[0-9]/) {
                    digit = substr($0, RSTART, 1)
                    $0 = substr($0, 1, RSTART - 1) ((digit + 1) % 10) substr($0, RSTART + 1)
                    done = 1
                }
                { print }
                END { if (!done) print "edited" }' "$committed/${edit#* }" >"$copy/pictures/${edit#* }"
            pictures="$copy/pictures"
            if check_pictures 2>/dev/null; then
                pictures="$committed"
                rm -rf "$copy"
                fail "the check passed $name with an edited ${edit%% *} (${edit#* })"
            fi
            pictures="$committed"
        done
    done < <(picture_list)
    rm -rf "$copy"
}

if [ "${1:-}" = "--measure" ]; then
    measure_launch_cost "${2:-7}"
    set --
fi

if [ "${1:-}" = "--check" ]; then
    check_pictures || exit 1
    prove_check_catches_edits
    out="$(mktemp -d)"
    trap 'rm -rf "$out"' EXIT
else
    out="$pictures"
fi

while read -r name sources; do
    read -r -a list <<<"$sources"
    draw "$name" "${list[@]}"
done < <(picture_list)

if [ "${1:-}" = "--check" ]; then
    echo "draw-pictures: every picture matches its sources and its body stamp, a hand edit" \
        "and a changed source are caught, and the script draws them all"
else
    echo "draw-pictures: drew $(picture_list | wc -l) pictures in $pictures"
fi
