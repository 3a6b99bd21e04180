#!/usr/bin/env bash
# Installs what building and testing IfxLib needs, asking apt only for what is missing.
# With the argument ppc64 it also installs the cross build of the reference platform; with
# ppc64-system, that and what booting a ppc64 kernel to run the tests takes.
set -euo pipefail
preset="${1:-}"

# man-db and groff-base render ifxctl's manual page in the tests and the install check.
packages=(g++ make cmake libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev pkgconf procps clang libclang-rt-14-dev man-db groff-base)
# The fault-injection table (scripts/run-faultinject.sh) runs the driver under strace and is
# generated and checked by a Python script.
packages+=(strace python3)
# The Debian packages (cpack -G DEB, checked by scripts/check-install.sh): dpkg-shlibdeps
# from dpkg-dev, file and readelf for cpack's look at the binaries, lintian to check them.
packages+=(dpkg-dev file lintian)
# The documentation's pictures (scripts/draw-pictures.sh): graphviz for the diagrams,
# gnuplot for the plots.
packages+=(graphviz gnuplot-nox)
# The big-endian PowerPC build: its compiler, the user-mode emulator its tests run under,
# GoogleTest's source (built for the target) and glibc's locale sources (a locale compiled
# for the target). No binfmt registration is installed: the emulator is always named.
cross_packages=(g++-powerpc64-linux-gnu qemu-user googletest locales)
# The tests on a booted ppc64 kernel (scripts/run-ppc64-system.sh): the full-system
# emulator, Debian's kernel source and what building the kernel needs. The user-mode
# emulator stays: CTest lists each test program's tests by running it.
system_packages=(qemu-system-ppc linux-source-6.1 xz-utils flex bison bc libssl-dev libelf-dev)

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
case "$preset" in
# GoogleTest built from source with the old std::string ABI: Debian's is built with the new.
old-string-abi) install_missing --no-install-recommends googletest ;;
ppc64) install_missing --no-install-recommends "${cross_packages[@]}" ;;
ppc64-system) install_missing --no-install-recommends "${cross_packages[@]}" "${system_packages[@]}" ;;
esac
