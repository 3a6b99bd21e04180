#pragma once

// Stands in for syscall(2) and waitid in this test program, so that a test can take from
// the library (and the process service) the process-descriptor calls a kernel may lack,
// as an older kernel or a container's seccomp profile would refuse them:
//
//   kAsTheKernelHas   everything passes through
//   kNoGroupOrWaitid  waitid(P_PIDFD) and pidfd_send_signal's flags fail with EINVAL
//                     (Linux 5.3)
//   kNone             pidfd_open and pidfd_send_signal fail with ENOSYS (before 5.3)
//
// Everything else passes straight through. On a kernel that lacks the calls itself every
// mode is kNone.

#include <sys/types.h>

namespace ifxtest {

enum class ProcessDescriptors { kAsTheKernelHas, kNoGroupOrWaitid, kNone };

const char* ProcessDescriptorsName(ProcessDescriptors mode);
void SetProcessDescriptors(ProcessDescriptors mode);

// pidfd_open for the test's own use, whatever the mode: -1 where the kernel has none.
int OpenProcessDescriptorAnyway(pid_t pid);

}  // namespace ifxtest
