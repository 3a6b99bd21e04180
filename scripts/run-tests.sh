#!/usr/bin/env bash
# Sets up, builds and runs the tests with one CMake preset (default: "default").
#
#   run-tests.sh [PRESET] [quick|long|full]
#
# quick (the default) runs every test but the long proofs, the tests labelled load (storms,
# soaks, concurrent launchers) and huge (2^31-byte inputs, several GiB of memory); long runs
# those alone, on the same build; full runs all of them. A lone mode means the default
# preset. "ppc64" cross-builds for big-endian PowerPC and runs the tests under qemu-user;
# its test preset always leaves the long proofs out, which would take too long there.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
mode="${2:-quick}"
case "$preset" in
    quick | long | full)
        mode="$preset"
        preset=default
        ;;
esac
long_proofs='^(load|huge)$'
case "$mode" in
    quick) selection=(-LE "$long_proofs") ;;
    long) selection=(-L "$long_proofs") ;;
    full) selection=() ;;
    *)
        echo "run-tests: unknown mode '$mode' (quick, long or full)" >&2
        exit 2
        ;;
esac

bash scripts/setup.sh "$preset"
if [ "$preset" = ppc64 ]; then
    # An emulated test process can exec programs of this machine only, so the child it
    # launches is the helper built natively (the preset names it; see tests/helpers).
    cmake --preset default
    cmake --build --preset default -j "$(nproc)" --target ifxtest_child_helper
fi
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)" "${selection[@]}"
