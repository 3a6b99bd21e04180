#pragma once

// System calls newer than the oldest kernel we run on (3.10), numbered here so that no
// source needs a kernel or C library header that has them: the build must work against
// 3.10-era headers, and the binary built on a new system must run on an old one. Every
// caller goes through syscall(), treats ENOSYS (no such call), EINVAL (an unknown flag)
// and EPERM (an older container's seccomp profile) as "not here", and has a fallback with
// the same result.
//
// Calls added since Linux 5.1 have one number on every architecture, offset on the few
// whose table starts elsewhere. An architecture not listed gets -1, which the kernel
// answers with ENOSYS: its fallbacks always run.

#include <sys/syscall.h>

namespace ifxlib::syscalls {

#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) ||    \
    defined(__powerpc__) || defined(__s390__) || defined(__riscv) || defined(__loongarch__) || \
    defined(__sparc__) || defined(__hppa__) || defined(__m68k__) || defined(__sh__)
constexpr long kUnifiedBase = 0;
#elif defined(__alpha__)
constexpr long kUnifiedBase = 110;
#elif defined(__mips__) && _MIPS_SIM == _MIPS_SIM_ABI32
constexpr long kUnifiedBase = 4000;
#elif defined(__mips__) && _MIPS_SIM == _MIPS_SIM_ABI64
constexpr long kUnifiedBase = 5000;
#elif defined(__mips__) && _MIPS_SIM == _MIPS_SIM_NABI32
constexpr long kUnifiedBase = 6000;
#else
#define IFXLIB_UNKNOWN_SYSCALL_TABLE 1
#endif

#ifdef IFXLIB_UNKNOWN_SYSCALL_TABLE
constexpr long kPidfdSendSignal = -1;
constexpr long kPidfdOpen = -1;
constexpr long kCloseRange = -1;
#else
constexpr long kPidfdSendSignal = kUnifiedBase + 424;  // 5.1
constexpr long kPidfdOpen = kUnifiedBase + 434;        // 5.3
constexpr long kCloseRange = kUnifiedBase + 436;       // 5.9; CLOSE_RANGE_CLOEXEC 5.11
#endif

// close_range's flag: mark the range close-on-exec instead of closing it. A 5.9 or 5.10
// kernel has the call but not the flag, and fails with EINVAL.
constexpr unsigned kCloseRangeCloexec = 1U << 2;

// Where the headers of the build machine know a number, it must be ours.
#ifdef SYS_pidfd_send_signal
static_assert(kPidfdSendSignal == SYS_pidfd_send_signal);
#endif
#ifdef SYS_pidfd_open
static_assert(kPidfdOpen == SYS_pidfd_open);
#endif
#ifdef SYS_close_range
static_assert(kCloseRange == SYS_close_range);
#endif

}  // namespace ifxlib::syscalls
