#!/usr/bin/env bash
# Sets up, builds and runs every test with one CMake preset (default: "default").
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"

bash scripts/setup.sh
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
