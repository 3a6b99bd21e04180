#!/usr/bin/env bash
# Installs what one purpose of this tree needs, asking apt only for what is missing, so
# that running the demo does not install the tools of every check CI runs.
#
#   setup.sh [PURPOSE...]    (no purpose: tests)
#
#   demo          build ifxctl and run scripts/run-demo.sh
#   tests         build the default presets (tests, tools, benchmarks) and run the tests
#   faultinject   the system-call fault-injection table (scripts/run-faultinject.sh)
#   fuzz          the libFuzzer targets (scripts/run-fuzzers.sh)
#   packages      the Debian and RPM packages and their checks (scripts/check-install.sh)
#   pictures      the documentation's pictures (scripts/draw-pictures.sh)
#   old-string-abi  the tests built with the old std::string ABI (GoogleTest from source)
#   ppc64         the tests cross-built for big-endian PowerPC under user-mode emulation
#   ppc64-system  those on a booted ppc64 kernel (scripts/run-ppc64-system.sh)
#   all           every one of them: what CI (.ci/run) needs on a fresh machine
#
# The names of the CMake presets are taken too: default, debug, asan and tsan mean tests.
set -euo pipefail

# Each purpose's packages, and whether apt may add what they recommend (no: only what
# they depend on, which keeps a demo's or a test run's installation small).
demo_packages=(g++ make cmake libcli11-dev)
# GoogleTest and Google Benchmark for the default preset's tests and benchmarks; clang's
# fuzzing header for the corpus tests, which replay the fuzzers' inputs with g++; pkgconf
# and procps (ps) for tests that use them; man-db and groff-base render ifxctl's manual
# page; dpkg-dev's dpkg-gensymbols checks the library's exports against its symbols file.
test_packages=("${demo_packages[@]}" libgtest-dev libgmock-dev libbenchmark-dev
    libclang-rt-14-dev pkgconf procps man-db groff-base dpkg-dev)
# The fault-injection table runs the driver under strace and is generated and checked by
# a Python script.
faultinject_packages=(strace python3)
fuzz_packages=(clang libclang-rt-14-dev)
# cpack -G DEB: dpkg-shlibdeps and dpkg-gensymbols from dpkg-dev, file and readelf for
# cpack's look at the binaries, lintian to check the packages; cpack -G RPM: rpmbuild from
# rpm, rpmlint to check them.
package_packages=(dpkg-dev file binutils lintian rpm rpmlint)
# graphviz draws the diagrams, gnuplot the plots, python3 reads the benchmark's JSON.
picture_packages=(graphviz gnuplot-nox python3)
# The big-endian PowerPC build: its compiler, the user-mode emulator its tests run under,
# GoogleTest's source (built for the target) and glibc's locale sources (a locale compiled
# for the target). No binfmt registration is installed: the emulator is always named.
cross_packages=(g++-powerpc64-linux-gnu qemu-user googletest locales)
# The tests on a booted ppc64 kernel: the full-system emulator, Debian's kernel source and
# what building the kernel needs. The user-mode emulator stays: CTest lists each test
# program's tests by running it.
system_packages=(qemu-system-ppc linux-source-6.1 xz-utils flex bison bc libssl-dev libelf-dev)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
updated=false

# install_missing RECOMMENDS PACKAGE...: RECOMMENDS is yes or no.
install_missing() {
    local options=() missing=() package
    [ "$1" = yes ] || options=(--no-install-recommends)
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

setup_for() {
    case "$1" in
        demo) install_missing no "${demo_packages[@]}" ;;
        tests | default | debug | asan | tsan) install_missing no "${test_packages[@]}" ;;
        faultinject) install_missing no "${test_packages[@]}" "${faultinject_packages[@]}" ;;
        fuzz) install_missing no "${demo_packages[@]}" "${fuzz_packages[@]}" ;;
        packages) install_missing yes "${package_packages[@]}" ;;
        pictures) install_missing yes "${picture_packages[@]}" ;;
        # Debian's GoogleTest is built with the new ABI: the preset builds it from source.
        old-string-abi) install_missing no "${test_packages[@]}" googletest ;;
        ppc64) install_missing no "${test_packages[@]}" "${cross_packages[@]}" ;;
        ppc64-system)
            install_missing no "${test_packages[@]}" "${cross_packages[@]}" "${system_packages[@]}"
            ;;
        all)
            local purpose
            for purpose in tests faultinject fuzz packages pictures ppc64-system; do
                setup_for "$purpose"
            done
            ;;
        *)
            echo "setup: unknown purpose '$1' (demo, tests, faultinject, fuzz, packages," \
                "pictures, old-string-abi, ppc64, ppc64-system or all)" >&2
            exit 2
            ;;
    esac
}

[ "$#" -gt 0 ] || set -- tests
for purpose in "$@"; do
    setup_for "$purpose"
done
