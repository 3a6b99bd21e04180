#!/usr/bin/env bash
# Sets up, builds and runs the tests with one CMake preset (default: "default").
#
#   run-tests.sh [PRESET] [quick|long|full|view-3.10|view-4.19|view-5.4]
#
# quick (the default) runs every test but the long proofs, the tests labelled load (storms,
# soaks, concurrent launchers) and huge (2^31-byte inputs, several GiB of memory); long runs
# those alone, on the same build; full runs all of them. view-VERSION runs the quick tests
# under the view of an older kernel (tests/support/KernelView.h): the calls that kernel
# lacked fail as they did there, for CTest and every test it starts. A lone mode means the
# default preset. "ppc64" cross-builds for big-endian PowerPC and runs the tests under qemu-user;
# its test preset always leaves the long proofs out, which would take too long there.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
mode="${2:-quick}"
case "$preset" in
    quick | long | full | view-*)
        mode="$preset"
        preset=default
        ;;
esac
long_proofs='^(load|huge)$'
view=
case "$mode" in
    quick) selection=(-LE "$long_proofs") ;;
    long) selection=(-L "$long_proofs") ;;
    full) selection=() ;;
    view-*)
        view="${mode#view-}"
        selection=(-LE "$long_proofs")
        ;;
    *)
        echo "run-tests: unknown mode '$mode' (quick, long, full or view-VERSION)" >&2
        exit 2
        ;;
esac
# The view is a filter of this machine's kernel: the programs must run natively.
case "$view:$preset" in
    :*) ;;
    *:ppc64*)
        echo "run-tests: a view needs a native build, not $preset" >&2
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
# CMake 3.25 has no launcher for tests: CTest itself runs under the view.
launcher=()
if [ -n "$view" ]; then
    launcher=("build/$preset/tests/support/ifxtest-kernel-view" "$view" --)
fi
"${launcher[@]}" ctest --preset "$preset" -j "$(nproc)" "${selection[@]}"
