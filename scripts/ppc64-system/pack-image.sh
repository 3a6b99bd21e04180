#!/usr/bin/env bash
# pack-image.sh BUILD_DIR IMAGE_DIR GEN_INIT_CPIO SOURCE_DIR: packs the system image
# IMAGE_DIR/initramfs.cpio in which the ppc64 kernel runs the tests of BUILD_DIR:
#   /init                       the tests' own init (tests/system), static
#   /ifxtest/tests.list         what to run (IMAGE_DIR/tests.list, from test-list.cmake)
#   /lib64/ld64.so.1, /lib/...  the target's loader and the libraries the programs need,
#                               from the cross toolchain's /usr/powerpc64-linux-gnu/lib
#   /etc/passwd, /etc/group     root, and nobody with group nogroup (65534)
#   BUILD_DIR/...               every program and shared library of the build, at the same
#                               path as here (the tests name each other by these paths),
#                               without debug information; the target's locale
#   SOURCE_DIR/{docs,examples,fuzz/corpus}   the source files tests read when they run
# Made without root: gen_init_cpio (from the kernel tree) writes owners and modes from a
# list file.
set -euo pipefail
build="$(realpath "$1")"
image="$(realpath -m "$2")"
gen_init_cpio="$3"
source_dir="$(realpath "$4")"
sysroot=/usr/powerpc64-linux-gnu
triple=powerpc64-linux-gnu

staging="$image/root"
list="$image/initramfs.list"
rm -rf "$staging"
mkdir -p "$staging"
: >"$list"
declare -A listed_dirs=()
declare -A packed_libs=()
needed=()

add_dir() {
    local dir="$1" mode="${2:-0755}"
    [ "$dir" != / ] && [ -z "${listed_dirs[$dir]:-}" ] || return 0
    add_dir "$(dirname "$dir")"
    listed_dirs[$dir]=1
    echo "dir $dir $mode 0 0" >>"$list"
}

# add_file IMAGE_PATH SOURCE MODE
add_file() {
    add_dir "$(dirname "$1")"
    echo "file $1 $2 $3 0 0" >>"$list"
}

is_elf() {
    [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]
}

# Copies an ELF file without its debug information and notes the libraries it needs.
add_elf() {
    local path="$1" source="$2" mode="$3" copy
    copy="$staging$path"
    mkdir -p "$(dirname "$copy")"
    "$triple-strip" --strip-debug -o "$copy" "$source"
    add_file "$path" "$copy" "$mode"
    local library
    while read -r library; do
        needed+=("$library")
    done < <("$triple-readelf" -d "$source" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
}

# The skeleton: mount points, the console, the users.
for dir in /dev /proc /sys /root /etc /lib /lib64 /ifxtest; do
    add_dir "$dir"
done
add_dir /tmp 1777
echo "nod /dev/console 0600 0 0 c 5 1" >>"$list"
mkdir -p "$staging/etc"
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n' \
    >"$staging/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$staging/etc/group"
add_file /etc/passwd "$staging/etc/passwd" 0644
add_file /etc/group "$staging/etc/group" 0644

init=$(sed -n 's/^init=//p' "$build/system-image/build.env")
add_elf /init "$init" 0755
add_file /ifxtest/tests.list "$image/tests.list" 0644

# Every program and shared library of the build, at its own path.
while IFS= read -r -d '' path; do
    if [ -L "$path" ]; then
        case "$path" in
        *.so | *.so.*)
            add_dir "$(dirname "$path")"
            echo "slink $path $(readlink "$path") 0777 0 0" >>"$list"
            ;;
        esac
    elif is_elf "$path"; then
        add_elf "$path" "$path" "$(stat -c %a "$path")"
    fi
done < <(find "$build" -path "$build/system-image" -prune -o -name CMakeFiles -prune -o \
    \( -type f -perm -u+x -o -type l \) -print0)

# The target's locale and the source files the tests read.
for dir in "$build/locale" "$source_dir/docs" "$source_dir/examples" "$source_dir/fuzz/corpus"; do
    [ -d "$dir" ] || continue
    while IFS= read -r -d '' path; do
        add_file "$path" "$path" "$(stat -c %a "$path")"
    done < <(find "$dir" -type f -print0)
done

# The loader, and the target's libraries that the programs need, each under its name.
add_elf /lib64/ld64.so.1 "$sysroot/lib/ld64.so.1" 0755
while [ "${#needed[@]}" -gt 0 ]; do
    library="${needed[0]}"
    needed=("${needed[@]:1}")
    [ -z "${packed_libs[$library]:-}" ] || continue
    packed_libs[$library]=1
    if [ -e "$sysroot/lib/$library" ]; then
        add_elf "/lib/$library" "$(realpath "$sysroot/lib/$library")" 0755
    elif ! find "$build" -name "$library" -print -quit | grep -q .; then
        echo "pack-image.sh: no $library in $sysroot/lib or the build" >&2
        exit 1
    fi
done

"$gen_init_cpio" "$list" >"$image/initramfs.cpio"
echo "pack-image.sh: $(grep -c '^file' "$list") files, $(du -m "$image/initramfs.cpio" | cut -f1) MB"
