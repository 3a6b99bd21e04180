#!/usr/bin/env bash
# Sets up, builds and runs the demonstration program on the bundled defaults.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target ifxdemo
# The library's log lines go to a file beside the build unless the caller chose one.
export JX_LOG_FILE="${JX_LOG_FILE:-$PWD/build/default/ifxdemo.log}"
export JX_DEBUG_LEVEL="${JX_DEBUG_LEVEL:-2}"
echo "log: $JX_LOG_FILE"
exec build/default/tools/ifxdemo "$@"
