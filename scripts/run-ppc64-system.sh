#!/usr/bin/env bash
# Runs the tests on a booted 64-bit big-endian PowerPC kernel, the reference platform,
# under full-system emulation (qemu-system-ppc64): the kernel's side of every system call
# is then the target's own, and a child sharing its parent's memory really does.
#
#   1. cross-builds a small pseries kernel from Debian's kernel source with the options of
#      scripts/ppc64-system/kernel.config (reused when build/ppc64-kernel has it already);
#   2. cross-builds the library, the tests and the child helper for the target (preset
#      ppc64-system), dynamically linked as shipped;
#   3. lists the tests from CTest, leaving out the labels load and huge (storms, soaks and
#      2^31-byte inputs: proofs for the native build, far too slow here);
#   4. packs them with the target's loader and libraries and /init into an initramfs;
#   5. boots it (time limit: IFXTEST_SYSTEM_TIMEOUT seconds, default 2400; each test at
#      most IFXTEST_SYSTEM_TEST_TIMEOUT seconds, default 180, or its own lower limit);
#   6. prints each test's output as the console shows it; the summary line that /init's
#      runner prints last decides (qemu exits 0 both on power-off and on a kernel panic).
# In the same boot the child-process tests (tests/childprocess, the lifetime tests among
# them) run a second time under the view of kernel 3.10 (tests/support/KernelView.h), as
# "view-3.10:<test>": the system calls of RHEL 7's kernel on the reference platform, with
# no second kernel to build or boot. IFXTEST_SYSTEM_VIEW names another view; empty, none.
# Tests that are scripts of the build machine (the exported-symbol check) run here with
# CTest. Exits 0 only when every test passed or was skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir="$PWD"
kernel_dir=build/ppc64-kernel
build_dir=build/ppc64-system
image_dir=build/ppc64-system/system-image
time_limit="${IFXTEST_SYSTEM_TIMEOUT:-2400}"
# Each test's own limit in the machine: a hang there costs this much, and the runner then
# prints what every thread of the hung test waits in.
test_limit="${IFXTEST_SYSTEM_TEST_TIMEOUT:-180}"
exclude_labels="load;huge"
view="${IFXTEST_SYSTEM_VIEW-3.10}"

timings=()
step_started=$SECONDS
end_step() {
    timings+=("$1 $((SECONDS - step_started)) s")
    step_started=$SECONDS
}

bash scripts/setup.sh ppc64-system
end_step setup

bash scripts/ppc64-system/build-kernel.sh "$kernel_dir"
end_step kernel

cmake --preset ppc64-system
cmake --build --preset ppc64-system -j "$(nproc)"
end_step build

mkdir -p "$image_dir"
build_env="$build_dir/system-image/build.env"
emulator=$(sed -n 's/^emulator=//p' "$build_env")
locpath=$(sed -n 's/^locpath=//p' "$build_env")
ctest --test-dir "$build_dir" --show-only=json-v1 >"$image_dir/tests.json"
view_options=()
if [ -n "$view" ]; then
    build_path="$(realpath "$build_dir")"
    view_options=(-DVIEW="$view" -DVIEW_LAUNCHER="$build_path/tests/support/ifxtest-kernel-view"
        -DVIEW_PROGRAMS="^$build_path/tests/childprocess/")
fi
cmake -DJSON="$image_dir/tests.json" -DEMULATOR="$emulator" \
    -DLIST="$image_dir/tests.list" -DHOST_LIST="$image_dir/host-tests.list" \
    -DEXCLUDE_LABELS="$exclude_labels" -DTIMEOUT_CAP="$test_limit" \
    -DBASE_ENV="PATH=/bin:/usr/bin;HOME=/root;LOCPATH=$locpath" "${view_options[@]}" \
    -P scripts/ppc64-system/test-list.cmake
bash scripts/ppc64-system/pack-image.sh "$build_dir" "$image_dir" \
    "$kernel_dir/gen_init_cpio" "$source_dir"
end_step image

# x-vof: QEMU's own firmware, which boots at once; the cap-... settings are the
# speculation workarounds that emulation cannot provide (said once each otherwise). quiet
# keeps the kernel's messages out of the tests' output; panic=-1 with -no-reboot makes
# qemu end on a kernel panic.
console="$image_dir/console.log"
echo "ppc64-system: booting (time limit $time_limit s)"
#
# One processor: with two, the emulated machine loses stores across fork. A thread that
# keeps taking a mutex while another thread forks finds the mutex locked by nobody (or
# glibc's owner assertion fails) within a few hundred forks, with multi-threaded and
# single-threaded TCG alike, while a single processor never does: the flush that makes
# the parent's pages copy-on-write does not reach the other processor's translations in
# time, so its writes land in the page the child keeps. Tests that take locks beside
# forks then hang in the machine, not in the library.
machine=pseries,x-vof=on,cap-cfpc=broken,cap-sbbc=broken,cap-ibs=broken,cap-ccf-assist=off
qemu_status=0
timeout "$time_limit" qemu-system-ppc64 -M "$machine" -cpu POWER8 -smp 1 -m 2G \
    -nographic -no-reboot -vga none -nic none \
    -kernel "$kernel_dir/vmlinux" -initrd "$image_dir/initramfs.cpio" \
    -append "console=hvc0 quiet panic=-1" </dev/null |
    sed -u 's/\r$//' | tee "$console" || qemu_status=$?
end_step "boot and tests"

host_status=0
if [ -s "$image_dir/host-tests.list" ]; then
    echo "ppc64-system: tests of the build machine's own"
    ctest --test-dir "$build_dir" --output-on-failure \
        -R "^($(paste -sd'|' "$image_dir/host-tests.list" | sed 's/[.[\]]/\\&/g'))\$" ||
        host_status=$?
fi

listed=$(grep -c '^test ' "$image_dir/tests.list")
summary=$(grep '^ifxtest summary: ' "$console" | tail -n 1 || true)
echo
echo "ppc64-system: ${timings[*]/%/,}" | sed 's/,$//'
grep -E '^ifxtest: (kernel|tests ran)' "$console" || true
if [ -z "$summary" ]; then
    echo "ppc64-system: FAILED: no test summary on the console (qemu or timeout exit status" \
        "$qemu_status; 124 is the time limit): the kernel or /init did not finish" >&2
    exit 1
fi
echo "$summary"
if [ -n "$view" ]; then
    view_listed=$(grep -c "^test view-$view:" "$image_dir/tests.list" || true)
    view_failed=$(grep -c "^ifxtest failed: view-$view:" "$console" || true)
    echo "ppc64-system: under the view of $view: $view_failed of $view_listed tests failed"
fi
read -r total passed skipped failed < <(echo "$summary" |
    sed -E 's/^ifxtest summary: ([0-9]+) tests, ([0-9]+) passed, ([0-9]+) skipped, ([0-9]+) failed$/\1 \2 \3 \4/')
if [ "$total" != "$listed" ] || [ "$failed" != 0 ] || [ $((passed + skipped)) != "$total" ]; then
    echo "ppc64-system: FAILED: $failed of $total tests failed ($listed listed)" >&2
    exit 1
fi
if [ "$host_status" != 0 ]; then
    echo "ppc64-system: FAILED: a test of the build machine failed" >&2
    exit 1
fi
echo "ppc64-system: all $total tests passed or skipped on the ppc64 kernel"
