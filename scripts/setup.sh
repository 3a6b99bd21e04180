#!/usr/bin/env bash
# Installs what building and testing IfxLib needs, asking apt only for what is missing.
# With the argument ppc64 it also installs the cross build of the reference platform.
set -euo pipefail
preset="${1:-}"

# man-db and groff-base render ifxctl's manual page in the tests and the install check.
packages=(g++ make cmake libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev pkgconf procps clang libclang-rt-14-dev man-db groff-base)
# The big-endian PowerPC build: its compiler, the user-mode emulator its tests run under,
# GoogleTest's source (built for the target) and glibc's locale sources (a locale compiled
# for the target). No binfmt registration is installed: the emulator is always named.
cross_packages=(g++-powerpc64-linux-gnu qemu-user googletest locales)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
updated=false

# install_missing OPTIONS PACKAGE...: OPTIONS is one word for apt-get install, or empty.
install_missing() {
    local options=() missing=() package
    [ -z "$1" ] || options=("$1")
    shift
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    [ "${#missing[@]}" -gt 0 ] || return 0
    echo "installing: ${missing[*]}"
    if ! "$updated"; then
        "${sudo_cmd[@]}" apt-get update -qq
        updated=true
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${options[@]}" \
        "${missing[@]}"
}

install_missing "" "${packages[@]}"
if [ "$preset" = ppc64 ]; then
    install_missing --no-install-recommends "${cross_packages[@]}"
fi
