#!/usr/bin/env bash
# Draws the documentation's pictures from their text sources under docs/pictures with
# Debian's tools (graphviz for the diagrams, gnuplot for the plots) and stamps each SVG
# with the SHA-256 of its sources. Fonts lay out differently from machine to machine, so
# a picture is never compared byte for byte: the stamp says which sources it was drawn
# from.
#
#   bash scripts/draw-pictures.sh          redraw every picture in docs/pictures
#   bash scripts/draw-pictures.sh --check  fail when a committed picture's stamp does not
#                                          match its sources, and draw them all into a
#                                          temporary directory to prove the script works
#
# The launch-cost plot reads the launch benchmark's JSON; to measure again:
#   build/default/bench/childprocess/bench_childprocess --benchmark_filter=BM_ParentSize \
#       --benchmark_out=docs/pictures/launch-cost.json --benchmark_out_format=json
set -euo pipefail
cd "$(dirname "$0")/.."
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

stamp_of() {
    sed -n 's/^<!-- source-sha256: \([0-9a-f]*\) -->$/\1/p' "$1" | head -n 1
}

# The benchmark's rows BM_ParentSize/<launch>/<MiB> as a table for gnuplot.
launch_cost_table() {
    python3 - "$1" <<'PY'
import json, sys
order = ["PosixSpawn", "InitializeLinux", "Initialize", "InitializeLinuxForked", "InitializeForked"]
scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
rows = {}
for bench in json.load(open(sys.argv[1]))["benchmarks"]:
    parts = bench["name"].split("/")
    if parts[0] != "BM_ParentSize" or bench.get("run_type", "iteration") != "iteration":
        continue
    rows.setdefault(int(parts[2]), {})[parts[1]] = bench["real_time"] * scale[bench["time_unit"]]
if not rows:
    sys.exit("no BM_ParentSize rows in " + sys.argv[1])
for mib in sorted(rows):
    missing = [name for name in order if name not in rows[mib]]
    if missing:
        sys.exit("no BM_ParentSize/%s/%d in %s" % (missing[0], mib, sys.argv[1]))
    print(mib, *("%.1f" % rows[mib][name] for name in order))
PY
}

# draw NAME SOURCE... into the directory $out.
draw() {
    local name="$1" main="$2" target="$out/$1.svg" drawn
    drawn="$(mktemp)"
    case "$main" in
        *.dot) dot -Tsvg "$pictures/$main" -o "$drawn" ;;
        *.gp)
            local data="$drawn.data"
            if [ "$#" -gt 2 ]; then
                launch_cost_table "$pictures/$3" >"$data"
            fi
            gnuplot -e "OUTPUT='$drawn'; DATA='$data'" "$pictures/$main"
            rm -f "$data"
            ;;
        *) fail "no tool for $main" ;;
    esac
    grep -q '<svg' "$drawn" || fail "$main drew no SVG"
    # The stamp goes right after the XML declaration.
    {
        head -n 1 "$drawn"
        echo "<!-- source-sha256: $(sources_hash "${@:2}") -->"
        tail -n +2 "$drawn"
    } >"$target"
    rm -f "$drawn"
}

if [ "${1:-}" = "--check" ]; then
    status=0
    while read -r name sources; do
        read -r -a list <<<"$sources"
        svg="$pictures/$name.svg"
        if [ ! -f "$svg" ]; then
            echo "draw-pictures: $svg is missing: run bash scripts/draw-pictures.sh" >&2
            status=1
        elif [ "$(stamp_of "$svg")" != "$(sources_hash "${list[@]}")" ]; then
            echo "draw-pictures: $svg was not drawn from its sources as they are now:" \
                "run bash scripts/draw-pictures.sh and commit it" >&2
            status=1
        fi
    done < <(picture_list)
    for svg in "$pictures"/*.svg; do
        picture_list | grep -q "^$(basename "$svg" .svg) " ||
            { echo "draw-pictures: $svg has no sources listed here" >&2; status=1; }
    done
    [ "$status" -eq 0 ] || exit 1
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
    echo "draw-pictures: every picture matches its sources and the script draws them all"
else
    echo "draw-pictures: drew $(picture_list | wc -l) pictures in $pictures"
fi
