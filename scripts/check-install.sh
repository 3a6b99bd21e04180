#!/usr/bin/env bash
# Installs the default build into a temporary prefix and checks that IfxLib is consumed
# like a C++ library should be, from outside the source tree: the installed files, the
# usage guide's examples built and run through the CMake package and through pkg-config,
# the installed ifxctl with its manual page and bash completion, and the same examples
# built with add_subdirectory() of the tree. As root it then builds the Debian packages
# (the package preset), checks them with lintian, installs them with apt-get, builds and
# runs the same examples against them, runs the packaged ifxctl and its manual page, and
# purges them, checking that nothing of them is left.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir="$PWD"
jobs="$(nproc)"

bash scripts/setup.sh tests packages
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"

work="$(mktemp -d)"
# The Debian packages this script installed, purged again however it ends.
installed_packages=()
cleanup() {
    if [ "${#installed_packages[@]}" -gt 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${installed_packages[@]}" \
            >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
prefix="$work/prefix"
data="$source_dir/examples"
# The examples' own log lines would drown what this script says.
export JX_LOG_FILE="$work/library.log"
version="$(sed -n 's/^project(IfxLib VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"

fail() {
    echo "check-install: $*" >&2
    exit 1
}

echo "== installing into $prefix"
cmake --install build/default --prefix "$prefix" >"$work/install.log"
pc="$(find "$prefix" -name ifxlib.pc)"
[ -n "$pc" ] || fail "no ifxlib.pc installed"
libdir="$(dirname "$(dirname "$pc")")"
for name in IfxLib JxLib ZuUtils; do
    real="$libdir/lib$name.so.$version"
    [ -f "$real" ] || fail "missing $real"
    soname="$(readelf -d "$real" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
    [ "$soname" = "lib$name.so.${version%%.*}" ] || fail "lib$name has soname '$soname'"
    [ "$(readlink "$libdir/$soname")" = "lib$name.so.$version" ] || fail "no $soname link"
    [ "$(readlink "$libdir/lib$name.so")" = "$soname" ] || fail "no lib$name.so link"
done
for header in IfxLib/IfxLib.h JxLib/EvEvent.h JxLib/JxThread.h ZuUtils/FXString.h; do
    [ -f "$prefix/include/$header" ] || fail "missing header $header"
done
# The library's own internal headers stay in the source tree.
[ ! -e "$prefix/include/IfxLib/platform" ] || fail "internal headers were installed"
for file in IfxLibConfig.cmake IfxLibConfigVersion.cmake IfxLibTargets.cmake; do
    [ -f "$libdir/cmake/IfxLib/$file" ] || fail "missing $file"
done
[ -x "$prefix/bin/ifxctl" ] || fail "ifxctl was not installed"

consumer="$work/consumer"
cp -r docs/examples "$consumer"

echo "== consumer through find_package(IfxLib CONFIG)"
cmake -S "$consumer" -B "$work/with-package" -DCMAKE_PREFIX_PATH="$prefix" \
    -DIFXLIB_EXAMPLES_DATA="$data" >"$work/with-package.log"
grep -q "^IfxLib_DIR:PATH=$libdir/cmake/IfxLib$" "$work/with-package/CMakeCache.txt" ||
    fail "the consumer did not find the installed package"
cmake --build "$work/with-package" -j "$jobs"
ctest --test-dir "$work/with-package" --output-on-failure

echo "== the package's version: same major version only"
for wanted in "1.0:found" "$version:found" "2.0:refused"; do
    project="$work/version-${wanted%%:*}"
    mkdir -p "$project"
    printf '%s\n' "cmake_minimum_required(VERSION 3.25)" "project(v LANGUAGES CXX)" \
        "find_package(IfxLib ${wanted%%:*} CONFIG)" \
        'message(STATUS "IfxLib_FOUND=${IfxLib_FOUND}")' >"$project/CMakeLists.txt"
    found="$(cmake -S "$project" -B "$project/build" -DCMAKE_PREFIX_PATH="$prefix" 2>&1 |
        sed -n 's/.*IfxLib_FOUND=\(.*\)/\1/p')"
    case "${wanted##*:}:$found" in
        found:1 | refused:0) echo "IfxLib ${wanted%%:*}: ${wanted##*:}" ;;
        *) fail "find_package(IfxLib ${wanted%%:*}) gave IfxLib_FOUND=$found" ;;
    esac
done

echo "== consumer through pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion ifxlib)" = "$version" ] || fail "ifxlib.pc has the wrong version"
read -r -a flags <<<"$(pkg-config --cflags --libs ifxlib)"
for source in "$consumer"/*.cpp; do
    name="$(basename "$source" .cpp)"
    g++ -std=c++17 -Wall -Wextra -Werror "$source" -o "$work/pc-$name" "${flags[@]}" \
        -Wl,-rpath,"$libdir"
done
"$work/pc-launch_and_talk" "$data/demo-utility.sh"
"$work/pc-wait_thread" "$data/demo-utility.sh"
"$work/pc-direct_launch" "$data/demo-utility.sh"
"$work/pc-bounded_life" /bin/cat "$data/demo-utility.sh"
"$work/pc-read_configuration" "$data/onconfig.demo" "$data/registry"
"$work/pc-tokens_and_shims"
# The two FXString operations the installed header gives inline must link in a consumer.
printf '%s\n' '#include <ZuUtils/FXString.h>' 'int main() {' \
    '    const std::string line = "# TAPEDEV /dev/tape";' \
    '    return FXString::CompareLeft(line, "#") == 0 &&' \
    '                   FXString::FindString(line, "TAPEDEV", false) == line.c_str() + 2' \
    '               ? 0' \
    '               : 1;' '}' >"$work/fxstring.cpp"
g++ -std=c++17 -Wall -Wextra -Werror "$work/fxstring.cpp" -o "$work/pc-fxstring" "${flags[@]}" \
    -Wl,-rpath,"$libdir"
"$work/pc-fxstring" || fail "FXString's inline operations through the installed header"

echo "== the installed ifxctl"
"$prefix/bin/ifxctl" --version
[ "$("$prefix/bin/ifxctl" split , a,b)" = "$(printf 'a\nb')" ] || fail "the installed ifxctl"
page="$prefix/share/man/man1/ifxctl.1"
[ -f "$page" ] || fail "the manual page was not installed"
MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q '^NAME' || fail "man -l does not render $page"
completion="$prefix/share/bash-completion/completions/ifxctl"
[ -f "$completion" ] || fail "the bash completion was not installed"
offered="$(bash -c 'source "$1"; COMP_WORDS=(ifxctl ""); COMP_CWORD=1; _ifxctl
    printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" | grep -v '^-' | sort | tr '\n' ' ')"
[ "$offered" = "date onconfig ppid run settings split " ] ||
    fail "the installed completion offers '$offered'"
echo "manual page and bash completion installed"

echo "== consumer with add_subdirectory() of the source tree"
subproject="$work/subproject"
mkdir -p "$subproject"
printf '%s\n' "cmake_minimum_required(VERSION 3.25)" "project(agent LANGUAGES CXX)" \
    "enable_testing()" "add_subdirectory(\"$source_dir\" ifxlib)" \
    "add_subdirectory(\"$consumer\" examples)" >"$subproject/CMakeLists.txt"
cmake -S "$subproject" -B "$subproject/build" -DIFXLIB_EXAMPLES_DATA="$data" \
    >"$work/subproject.log"
cmake --build "$subproject/build" -j "$jobs"
# Only the libraries and the examples: the tree's own tests and tools stay out.
[ ! -e "$subproject/build/ifxlib/tools" ] || fail "add_subdirectory() built the tools"
ctest --test-dir "$subproject/build" --output-on-failure


echo "== the Debian packages"
if [ "$(id -u)" -ne 0 ]; then
    echo "check-install: installing the Debian packages needs root: skipped"
    echo "check-install: the installed tree works through CMake, pkg-config and add_subdirectory()"
    exit 0
fi
debs="$source_dir/build/package/debs"
cmake --preset package >"$work/package-configure.log"
cmake --build --preset package -j "$jobs" >"$work/package-build.log" ||
    { cat "$work/package-build.log"; fail "the package build failed"; }
rm -rf "$debs"
cpack --preset package >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
arch="$(dpkg --print-architecture)"
packages=(libifxlib${version%%.*} libifxlib-dev ifxctl libifxlib-host${version%%.*} libifxlib-host-dev)
deb_files=()
for package in "${packages[@]}"; do
    deb="$debs/${package}_${version}_$arch.deb"
    [ -f "$deb" ] || fail "cpack made no $(basename "$deb") (made: $(ls "$debs"))"
    deb_files+=("$deb")
done
[ "$(find "$debs" -maxdepth 1 -name '*.deb' | wc -l)" -eq "${#packages[@]}" ] ||
    fail "cpack made other packages than ${packages[*]}: $(ls "$debs")"
# Warnings fail too; packaging/debian/*.lintian-overrides give each accepted tag a reason.
if ! lintian --fail-on error,warning "${deb_files[@]}" >"$work/lintian.log" 2>&1; then
    grep -v 'running with root privileges' "$work/lintian.log" >&2
    fail "lintian found errors or warnings in the packages"
fi
echo "lintian: no errors or warnings"
# What CPack cannot say by itself (cmake/IfxLibDebianControl.cmake adds it): Multi-Arch,
# and the host services as a virtual package that the stand-ins provide and that what
# links them accepts from any provider.
host_services="jxlib-zuutils${version%%.*}"
host_dependency="libifxlib-host${version%%.*} (>= $version) | $host_services"
control_field() {
    dpkg-deb -f "$debs/${1}_${version}_$arch.deb" "$2"
}
for expected in "libifxlib${version%%.*}:same" libifxlib-dev:same ifxctl:foreign \
    "libifxlib-host${version%%.*}:same" libifxlib-host-dev:same; do
    package="${expected%%:*}"
    [ "$(control_field "$package" Multi-Arch)" = "${expected##*:}" ] ||
        fail "$package is not Multi-Arch: ${expected##*:}"
done
for package in "libifxlib${version%%.*}" ifxctl libifxlib-host-dev; do
    case "$(control_field "$package" Depends)" in
        *"$host_dependency"*) ;;
        *) fail "$package does not depend on '$host_dependency'" ;;
    esac
done
for field in Provides Conflicts Replaces; do
    [ "$(control_field "libifxlib-host${version%%.*}" "$field")" = "$host_services" ] ||
        fail "libifxlib-host${version%%.*} has no $field: $host_services"
done
# Read whole before it is searched: grep -q ends its input early, which pipefail would
# take for a failure of the writer.
symbols="$(dpkg-deb -I "$debs/libifxlib${version%%.*}_${version}_$arch.deb" symbols)"
grep -q 'GETLASTERROR' <<<"$symbols" || fail "libifxlib${version%%.*} carries no symbols file"
echo "Multi-Arch, the host services' virtual package and the symbols file are in place"
# Runtime packages carry no headers, and the library's own packages carry nothing of the
# host stand-ins.
dpkg-deb -c "$debs/libifxlib${version%%.*}_${version}_$arch.deb" | grep -E 'include/|JxLib|ZuUtils' &&
    fail "libifxlib${version%%.*} holds more than the library"
for package in "${packages[@]}"; do
    if dpkg -s "$package" >/dev/null 2>&1; then
        fail "$package is installed already: purge it first"
    fi
done

installed_packages=("${packages[@]}")
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${deb_files[@]}" >"$work/apt-install.log" 2>&1 ||
    { cat "$work/apt-install.log"; fail "apt-get could not install the packages"; }
dpkg -L "${packages[@]}" | sort -u >"$work/package-files"
echo "installed: ${packages[*]}"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
[ -f "/usr/lib/$multiarch/libIfxLib.so.$version" ] || fail "libIfxLib is not in /usr/lib/$multiarch"
for binary in /usr/bin/ifxctl /usr/lib/"$multiarch"/lib{IfxLib,JxLib,ZuUtils}.so."$version"; do
    if readelf -d "$binary" | grep -Eq '\((RPATH|RUNPATH)\)'; then
        fail "$binary has a RUNPATH"
    fi
done

echo "== consumer through the packages' find_package(IfxLib CONFIG)"
unset PKG_CONFIG_PATH
cmake -S "$consumer" -B "$work/with-debs" -DIFXLIB_EXAMPLES_DATA="$data" >"$work/with-debs.log"
grep -q "^IfxLib_DIR:PATH=/usr/lib/$multiarch/cmake/IfxLib$" "$work/with-debs/CMakeCache.txt" ||
    fail "the consumer did not find the packaged CMake package"
cmake --build "$work/with-debs" -j "$jobs"
ctest --test-dir "$work/with-debs" --output-on-failure

echo "== consumer through the packages' pkg-config"
[ "$(pkg-config --modversion ifxlib)" = "$version" ] || fail "the packaged ifxlib.pc"
read -r -a flags <<<"$(pkg-config --cflags --libs ifxlib)"
for source in "$consumer"/*.cpp; do
    name="$(basename "$source" .cpp)"
    g++ -std=c++17 -Wall -Wextra -Werror "$source" -o "$work/deb-$name" "${flags[@]}"
done
"$work/deb-launch_and_talk" "$data/demo-utility.sh"
"$work/deb-wait_thread" "$data/demo-utility.sh"
"$work/deb-direct_launch" "$data/demo-utility.sh"
"$work/deb-read_configuration" "$data/onconfig.demo" "$data/registry"
"$work/deb-tokens_and_shims"

echo "== the packaged ifxctl"
[ "$(command -v ifxctl)" = /usr/bin/ifxctl ] || fail "ifxctl is not /usr/bin/ifxctl"
ifxctl --version
MANWIDTH=80 man ifxctl 2>/dev/null | grep -q '^NAME' || fail "man ifxctl shows no page"
[ -f /usr/share/bash-completion/completions/ifxctl ] || fail "no bash completion installed"
echo "man ifxctl and the completion work"

echo "== purging the packages"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >"$work/apt-purge.log" 2>&1 ||
    { cat "$work/apt-purge.log"; fail "apt-get could not purge the packages"; }
installed_packages=()
for package in "${packages[@]}"; do
    status="$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)"
    [ -z "$status" ] || [ "$status" = not-installed ] || fail "$package is left as '$status'"
done
# Every file of the packages is gone; directories they shared with others may stay.
while IFS= read -r path; do
    if [ -e "$path" ] && [ ! -d "$path" ]; then
        fail "$path is left after the purge"
    fi
done <"$work/package-files"
for directory in /usr/include/IfxLib /usr/include/JxLib /usr/include/ZuUtils \
    "/usr/lib/$multiarch/cmake/IfxLib" /usr/share/doc/ifxctl; do
    [ ! -e "$directory" ] || fail "$directory is left after the purge"
done
ldconfig -p | grep -q 'libIfxLib\|libJxLib\|libZuUtils' && fail "the linker cache still names the libraries"
echo "purged: nothing of the packages is left"

echo "== the Debian packages beside another provider of the host services"
# A package as the backup system's own would be: it ships the two sonames (here the
# stand-ins' files, from a staging directory) and provides, conflicts with and replaces
# the virtual package, as README.md's contract asks. The library's packages must install
# beside it, and take the host services from it, without the stand-ins.
provider=ifxlib-test-host-services
stage="$work/provider"
dpkg-deb -x "$debs/libifxlib-host${version%%.*}_${version}_$arch.deb" "$work/host-files"
mkdir -p "$stage/DEBIAN" "$stage/usr/lib/$multiarch"
cp -a "$work/host-files/usr/lib/$multiarch"/lib{JxLib,ZuUtils}.so.* "$stage/usr/lib/$multiarch/"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: $provider
Version: 9.9
Architecture: $arch
Multi-Arch: same
Maintainer: IfxLib maintainers <maintainers@users.noreply.c-seed-2c1224d5.example>
Provides: $host_services
Conflicts: $host_services
Replaces: $host_services
Section: libs
Priority: optional
Description: host services for the install check
 The sonames libJxLib.so.1 and libZuUtils.so.1, as another package would ship them.
CONTROL
echo "activate-noawait ldconfig" >"$stage/DEBIAN/triggers"
dpkg-deb --root-owner-group --build "$stage" "$work/$provider.deb" >/dev/null
beside=(libifxlib${version%%.*} libifxlib-dev ifxctl libifxlib-host-dev)
beside_files=()
for package in "${beside[@]}"; do
    beside_files+=("$debs/${package}_${version}_$arch.deb")
done
installed_packages=("$provider" "${beside[@]}")
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$work/$provider.deb" \
    >"$work/apt-provider.log" 2>&1 || { cat "$work/apt-provider.log"; fail "the provider did not install"; }
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${beside_files[@]}" \
    >"$work/apt-beside.log" 2>&1 ||
    { cat "$work/apt-beside.log"; fail "the packages did not install beside $provider"; }
status="$(dpkg-query -W -f='${db:Status-Status}' "libifxlib-host${version%%.*}" 2>/dev/null || true)"
[ -z "$status" ] || [ "$status" = not-installed ] ||
    fail "apt installed the stand-ins beside $provider"
[ "$(dpkg -S "/usr/lib/$multiarch/libJxLib.so.1" | cut -d: -f1)" = "$provider" ] ||
    fail "libJxLib.so.1 does not come from $provider"
echo "installed ${beside[*]} beside $provider, without the stand-ins"
ifxctl --version >/dev/null || fail "ifxctl does not run on $provider's libraries"
g++ -std=c++17 -Wall -Wextra -Werror "$consumer/launch_and_talk.cpp" -o "$work/beside-launch_and_talk" \
    $(pkg-config --cflags --libs ifxlib)
"$work/beside-launch_and_talk" "$data/demo-utility.sh" >/dev/null ||
    fail "an agent built against the packages does not run on $provider's libraries"
echo "ifxctl and an agent built against the packages run on $provider's libraries"
# The stand-ins would take the provider's place, not sit beside it.
plan="$(apt-get install -s "$debs/libifxlib-host${version%%.*}_${version}_$arch.deb" 2>/dev/null)"
grep -q "^Remv $provider " <<<"$plan" || fail "the stand-ins would not replace $provider"
echo "the stand-ins would replace $provider"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${installed_packages[@]}" \
    >"$work/apt-purge-beside.log" 2>&1 ||
    { cat "$work/apt-purge-beside.log"; fail "apt-get could not purge the packages"; }
installed_packages=()

echo "== the RPM packages"
# Built here they require this machine's glibc (rpm records each symbol version used):
# they prove the recipe, the names, the dependencies and the file lists; the packages
# that ship are built on the oldest target (README.md).
check_rpms() {
    local preset="$1" rpm_arch="$2" rpms="$source_dir/build/$1/rpms"
    cmake --preset "$preset" >"$work/$preset-configure.log"
    cmake --build --preset "$preset" -j "$jobs" >"$work/$preset-build.log" ||
        { cat "$work/$preset-build.log"; fail "the $preset build failed"; }
    rm -rf "$rpms"
    cpack --preset "$preset" >"$work/cpack-$preset.log" 2>&1 ||
        { cat "$work/cpack-$preset.log"; fail "cpack --preset $preset failed"; }
    local rpm_packages=(ifxlib ifxlib-devel ifxctl ifxlib-host ifxlib-host-devel) package files=()
    for package in "${rpm_packages[@]}"; do
        local file="$rpms/$package-$version-1.$rpm_arch.rpm"
        [ -f "$file" ] || fail "cpack made no $(basename "$file") (made: $(ls "$rpms"))"
        files+=("$file")
    done
    [ "$(find "$rpms" -maxdepth 1 -name '*.rpm' | wc -l)" -eq "${#rpm_packages[@]}" ] ||
        fail "cpack made other RPMs than ${rpm_packages[*]}: $(ls "$rpms")"
    # Errors fail; packaging/rpm/rpmlint.toml gives each filtered warning its reason.
    if ! rpmlint -c packaging/rpm/rpmlint.toml "${files[@]}" >"$work/rpmlint-$preset.log" 2>&1; then
        cat "$work/rpmlint-$preset.log" >&2
        fail "rpmlint found errors in the $preset packages"
    fi
    tail -n 1 "$work/rpmlint-$preset.log"
    # Read whole before they are searched: grep -q ends its input early, which pipefail
    # would take for rpm's failure.
    local requires provides listed
    requires="$(rpm -qp --requires "$rpms/ifxlib-$version-1.$rpm_arch.rpm")"
    provides="$(rpm -qp --provides "$rpms/ifxlib-host-$version-1.$rpm_arch.rpm")"
    listed="$(rpm -qp -l "$rpms/ifxlib-$version-1.$rpm_arch.rpm")"
    grep -qx 'libJxLib.so.1()(64bit)' <<<"$requires" ||
        fail "ifxlib does not require the host services by soname"
    grep -qx 'libZuUtils.so.1()(64bit)' <<<"$provides" ||
        fail "ifxlib-host does not provide libZuUtils.so.1"
    grep -qx "/usr/lib64/libIfxLib.so.$version" <<<"$listed" ||
        fail "ifxlib does not hold /usr/lib64/libIfxLib.so.$version"
    # What each package requires, provides and holds, the C and C++ libraries' symbol
    # versions on one line each.
    for file in "${files[@]}"; do
        echo "-- $(basename "$file")"
        echo "   requires: $(rpm -qp --requires "$file" | sort -u | tr '\n' ' ')"
        echo "   provides: $(rpm -qp --provides "$file" | tr '\n' ' ')"
        rpm -qp -l "$file" | sed 's/^/   /'
    done
}
check_rpms rpm x86_64
# Into a scratch root: the file lists unpack where they should and go again. Without the
# system's packages in that root's database the dependencies cannot be resolved there, and
# its ldconfig is not there to run: the dependencies were listed above instead.
root="$work/rpm-root"
rpm --root "$root" --initdb
# Debian's rpm warns that it is not the system's package manager: to a log, shown on failure.
rpm --root "$root" -i --nodeps --noscripts "$source_dir"/build/rpm/rpms/*.rpm \
    2>"$work/rpm-install.log" || { cat "$work/rpm-install.log"; fail "the RPMs did not install into a scratch root"; }
[ -f "$root/usr/lib64/libIfxLib.so.$version" ] && [ -x "$root/usr/bin/ifxctl" ] ||
    fail "the scratch root lacks the library or ifxctl"
[ "$(rpm --root "$root" -qa | sort | tr '\n' ' ')" = \
    "ifxctl-$version-1.x86_64 ifxlib-$version-1.x86_64 ifxlib-devel-$version-1.x86_64 ifxlib-host-$version-1.x86_64 ifxlib-host-devel-$version-1.x86_64 " ] ||
    fail "the scratch root's database holds $(rpm --root "$root" -qa)"
rpm --root "$root" -e --nodeps --noscripts ifxctl ifxlib-devel ifxlib-host-devel ifxlib ifxlib-host \
    2>"$work/rpm-erase.log" || { cat "$work/rpm-erase.log"; fail "the RPMs did not erase from the scratch root"; }
[ -z "$(find "$root/usr" -type f 2>/dev/null)" ] || fail "files are left in the scratch root"
echo "the RPMs install into a scratch root and erase from it, leaving nothing"
if command -v powerpc64-linux-gnu-g++ >/dev/null && command -v qemu-ppc64 >/dev/null; then
    check_rpms rpm-ppc64 ppc64
else
    echo "check-install: no ppc64 cross compiler (bash scripts/setup.sh ppc64): ppc64 RPMs skipped"
fi

echo "check-install: the installed tree works through CMake, pkg-config and add_subdirectory()," \
    "the Debian packages install, work and purge cleanly, also beside another provider of" \
    "the host services, and the RPMs build, lint, list and install cleanly"
