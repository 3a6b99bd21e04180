#pragma once

// Views of older kernels: a seccomp filter under which this process, and everything it
// starts from then on, meets the system-call surface of an older kernel on the same
// machine. A call the older kernel did not have fails with ENOSYS; a flag or type it did
// not know, of the calls where that matters to this project, fails with EINVAL, as the
// older kernel answers. What the view cannot show: the behaviour of the calls that exist
// (they run on the machine's own kernel), flags the older kernel ignored instead of
// refusing, and flags inside structures a filter cannot read (clone3's).
//
// Views: "5.4", "4.19" (the system-call table of 4.18, the kernel of RHEL 8, too) and
// "3.10" (RHEL 7), for x86-64 and 64-bit PowerPC (whose call numbers differ below 403).

#include <string>
#include <vector>

namespace ifxtest {

// The names of the views, oldest first.
std::vector<std::string> KernelViewNames();

// Puts the calling thread under the view (for good: see SystemCallFailure.h). Returns 0,
// EINVAL for a name that is no view, ENOSYS where this architecture has no tables here,
// or the errno of installing the filter.
int EnterKernelView(const std::string& view);

// The number on this architecture of a call the views know by name: one added after 3.10
// (the calls they take away, up to close_range) or waitid; -1 for any other.
long ViewedSystemCallNumber(const std::string& name);

}  // namespace ifxtest
