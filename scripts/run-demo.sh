#!/usr/bin/env bash
# Sets up, builds and runs the demonstration program on the bundled defaults.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target ifxdemo
exec build/default/tools/ifxdemo "$@"
