#!/usr/bin/env bash
# The system-call fault-injection table (tests/faultinject, docs/reliability.md): installs
# what is missing (strace and python3 among it), builds the default preset, records each
# operation of the driver under strace, and runs every row, two at a time. Arguments go
# to tests/faultinject/faultinject.py (--only REGEX, --list, --jobs N).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh tests faultinject
cmake --preset default
cmake --build --preset default -j2
python3 tests/faultinject/faultinject.py --build build/default --jobs 2 "$@"
