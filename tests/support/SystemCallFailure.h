#pragma once

// Makes system calls of the calling process, and of every process it starts from then on
// (fork, clone and exec keep the filter), fail with an error, through a seccomp filter.
// For a test that needs one call to fail where nothing natural would make it fail, in a
// process of its own (a forked test child), and for the views of older kernels
// (KernelView.h): a filter cannot be removed again, and it binds only the thread that
// installs it and what that thread starts afterwards.

#include <linux/filter.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace ifxtest {

// The audit architecture of this program's own system calls, as seccomp reports them; 0
// where this code does not know it.
extern const std::uint32_t kNativeAuditArch;

// A filter built rule by rule: the first rule that matches a call decides, and a call that
// no rule matches meets the final action Install is given. A call made through another
// system-call interface than this program's (the 32-bit one of a 64-bit kernel, whose
// numbers name other calls) fails with ENOSYS before any rule, as on a kernel without it.
// An argument test sees the low 32 bits of the argument: the flags and types the rules
// look at are 32-bit values in the kernel.
class SystemCallFilter {
  public:
    // The call numbered `number` fails with error.
    SystemCallFilter& Fail(long number, int error);
    // ... when its argument `argument` (0-5), its bits outside mask cleared, equals value.
    SystemCallFilter& FailWhenArgumentIs(long number, unsigned argument, std::uint32_t mask,
                                         std::uint32_t value, int error);
    // ... when its argument `argument` has any bit of mask set.
    SystemCallFilter& FailWhenArgumentHasAny(long number, unsigned argument, std::uint32_t mask,
                                             int error);
    // The calls numbered first to last (both included) go ahead.
    SystemCallFilter& Allow(long first, long last);

    // Installs the filter for the calling thread; a call no rule matched goes ahead when
    // otherwise is 0 and fails with otherwise if not. Returns 0 or the errno of the
    // installation: ENOSYS where this architecture is unknown here, EINVAL (or ENOSYS
    // under an emulator) where the kernel has no seccomp filters.
    int Install(int otherwise = 0) const;

  private:
    std::vector<sock_filter> m_rules;
};

// Makes the calls numbered `numbers` fail with error; every other call goes ahead.
// 0, or the errno of the installation (see SystemCallFilter::Install: skip the test then).
int FailSystemCalls(std::initializer_list<long> numbers, int error);

}  // namespace ifxtest
