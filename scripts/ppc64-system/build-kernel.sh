#!/usr/bin/env bash
# build-kernel.sh OUT_DIR: cross-builds a small big-endian pseries kernel from Debian's
# kernel source (package linux-source-6.1) with the options of kernel.config beside this
# script, and leaves OUT_DIR/vmlinux and OUT_DIR/gen_init_cpio (the kernel tree's own
# initramfs packer, built for this machine). A kernel already built there with the same
# options is reused; a changed option rebuilds only what it touches.
set -euo pipefail
out="$(realpath -m "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
fragment="$here/kernel.config"
tarball=/usr/src/linux-source-6.1.tar.xz
src="$out/linux-source-6.1"
obj="$out/obj"
make_kernel=(make -s -C "$src" O="$obj" ARCH=powerpc CROSS_COMPILE=powerpc64-linux-gnu-)

if [ ! -f "$out/unpacked" ]; then
    echo "ppc64-system: unpacking $tarball"
    rm -rf "$src"
    mkdir -p "$out"
    # Whole: the configuration reads Kconfig files of other architectures and of the
    # documentation too.
    started=$SECONDS
    tar -xJf "$tarball" -C "$out"
    touch "$out/unpacked"
    echo "ppc64-system: unpacked in $((SECONDS - started)) s"
fi

# allnoconfig with the fragment as KCONFIG_ALLCONFIG: every option not named is off. Done
# into a scratch copy so that an unchanged configuration leaves the build untouched.
mkdir -p "$obj"
scratch="$out/config-check"
mkdir -p "$scratch"
"${make_kernel[@]}" O="$scratch" KCONFIG_ALLCONFIG="$fragment" allnoconfig
# allnoconfig quietly drops an option whose dependencies are not met: name each one.
missing=()
while IFS= read -r option; do
    [ -n "$option" ] || continue
    grep -qxF "$option" "$scratch/.config" || missing+=("$option")
done <"$fragment"
if [ "${#missing[@]}" -gt 0 ]; then
    echo "ppc64-system: the kernel configuration did not take: ${missing[*]}" >&2
    exit 1
fi
if [ -f "$obj/vmlinux" ] && cmp -s "$scratch/.config" "$obj/.config"; then
    echo "ppc64-system: reusing the kernel in $obj"
else
    cp "$scratch/.config" "$obj/.config"
    "${make_kernel[@]}" olddefconfig
    echo "ppc64-system: building the kernel (a few minutes on 2 cores)"
    started=$SECONDS
    nice "${make_kernel[@]}" -j "$(nproc)" vmlinux
    echo "ppc64-system: kernel built in $((SECONDS - started)) s"
fi
ln -sf obj/vmlinux "$out/vmlinux"
# One C file of the kernel tree, built for this machine.
if [ ! -x "$out/gen_init_cpio" ]; then
    cc -O2 -o "$out/gen_init_cpio" "$src/usr/gen_init_cpio.c"
fi
