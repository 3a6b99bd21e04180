#!/usr/bin/env bash
# Installs the default build into a temporary prefix and checks that IfxLib is consumed
# like a C++ library should be, from outside the source tree: the installed files, the
# usage guide's examples built and run through the CMake package and through pkg-config,
# the installed ifxctl with its manual page and bash completion, and the same examples
# built with add_subdirectory() of the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir="$PWD"
jobs="$(nproc)"

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
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

echo "check-install: the installed tree works through CMake, pkg-config and add_subdirectory()"
