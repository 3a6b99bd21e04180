#!/usr/bin/env bash
# The library's main job on the bundled defaults, step by step with ifxctl: the agent's
# settings and identity from the bundled registry, values from the bundled ONCONFIG
# file, then the bundled stand-in utility launched the way the agent launches an Informix
# utility (as nobody when run as root), commands sent (NUL-terminated, as the agent sends
# them), its answers streamed as they come and its exit status reported. Exits with the
# utility's status.
set -euo pipefail
cd "$(dirname "$0")/.."

# The build takes about a minute the first time: each step says so, and the build shows
# how far it has come on one line; its full output goes to a file, shown on failure.
echo "Checking the packages the demo needs: a compiler, CMake and CLI11 (installs what is missing)..."
bash scripts/setup.sh demo
echo "Configuring the build (CMake preset demo: the library and ifxctl)..."
mkdir -p build
cmake --preset demo >build/demo-configure.log 2>&1 || {
    cat build/demo-configure.log
    exit 1
}
echo "Building the library and ifxctl (about a minute the first time)..."
build_log=build/demo-build.log
progress() {
    local line
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$build_log"
        case "$line" in
            "["*"%]"*) printf '\r    %s' "${line%%]*}]" ;;
        esac
    done
    printf '\r    done.  \n'
}
: >"$build_log"
if ! cmake --build --preset demo -j "$(nproc)" --target ifxctl 2>&1 | progress; then
    tail -n 30 "$build_log"
    exit 1
fi

ifxctl="$PWD/build/demo/tools/ifxctl"
onconfig="$PWD/examples/onconfig.demo"
export JX_REGISTRY_DIR="${JX_REGISTRY_DIR:-$PWD/examples/registry}"
# The library's log lines go to a file beside the build unless the caller chose one.
export JX_LOG_FILE="${JX_LOG_FILE:-$PWD/build/demo/ifxctl-demo.log}"
export JX_DEBUG_LEVEL="${JX_DEBUG_LEVEL:-2}"

# One paragraph: a blank line, then each argument on a line of its own.
say() {
    printf '\n'
    printf '%s\n' "$@"
}
indent() {
    sed -u 's/^/    /'
}

say "1. The agent's settings, from the registry in $JX_REGISTRY_DIR" \
    "   (section InformixAgent, one 'name value' line per item):"
for item in dINFORMIXDIR dONCONFIG sINFORMIXSERVER sIFXUSER; do
    printf '    %-16s %s\n' "$item" "$("$ifxctl" settings get "$item")"
done
server="$("$ifxctl" settings get sINFORMIXSERVER)"

say "2. The agent's identity, as an agent started with '-cn demohost -vm demo_vm' sees it:"
INFORMIXSERVER="$server" "$ifxctl" settings identity -- -cn demohost -vm demo_vm | indent

say "3. Values from the ONCONFIG file $onconfig:"
"$ifxctl" onconfig "$onconfig" DBSERVERNAME TAPEDEV LTAPEDEV BAR_ACT_LOG | indent

# The utility must be reachable by the user it runs as, wherever this tree lies.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
utility="$work/demo-utility.sh"
cp examples/demo-utility.sh "$utility"
chmod 755 "$work" "$utility"
user=()
who="you"
if [ "$(id -u)" -eq 0 ]; then
    user=(--user nobody)
    who="nobody (an agent names its Informix user)"
fi

say "4. The stand-in utility launched as $who," \
    "   with INFORMIXSERVER=$server; two commands sent over its input pipe, its answers" \
    "   shown as they arrive, then 'exit 0' ends it and its exit status is reported:"
set +e
"$ifxctl" run "${user[@]}" --env "INFORMIXSERVER=$server" --commands \
    --send "onstat -" --send "archive level 0" --send "exit 0" \
    -- "$utility" -level 0 </dev/null 2>&1 | indent
status="${PIPESTATUS[0]}"
set -e

if [ "$status" -eq 0 ]; then
    say "The utility ended with exit status 0: the backup step succeeded."
else
    say "The utility ended with exit status $status: the backup step failed."
fi
echo "The library's log of all this is in $JX_LOG_FILE."
exit "$status"
