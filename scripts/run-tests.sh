#!/usr/bin/env bash
# Sets up, builds and runs every test with one CMake preset (default: "default").
# "ppc64" cross-builds for big-endian PowerPC and runs the tests under qemu-user; its test
# preset leaves out the tests labelled load, proofs for the native build that would take
# too long under emulation.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"

bash scripts/setup.sh "$preset"
if [ "$preset" = ppc64 ]; then
    # An emulated test process can exec programs of this machine only, so the child it
    # launches is the helper built natively (the preset names it; see tests/helpers).
    cmake --preset default
    cmake --build --preset default -j "$(nproc)" --target ifxtest_child_helper
fi
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
