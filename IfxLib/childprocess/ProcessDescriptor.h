#pragma once

// The kernel's process descriptors (pidfds), used where the kernel has them and replaced
// by the child's number, under the reaping lock, where it has not. Each call is tried on
// the child it serves: ENOSYS (a kernel before the call), EINVAL (a flag it does not
// know) and EPERM (an older container's seccomp profile refusing calls it does not know)
// say "not here"; anything else (EMFILE, say) is that call's failure and says nothing about
// the next child.
//
//   pidfd_open                     Linux 5.3
//   pidfd_send_signal              Linux 5.1 (useful with pidfd_open)
//   waitid(P_PIDFD, ...)           Linux 5.4
//   PIDFD_SIGNAL_PROCESS_GROUP     Linux 6.9
//
// The numbers are those of every architecture we build for (the calls came after the
// tables were unified); the C library's headers of older systems do not have them.

#include <signal.h>
#include <sys/types.h>

namespace ifxlib {

// Whether a call's errno means the kernel (or a filter in front of it) lacks the call
// or the flag.
bool KernelLacks(int error);

// A process descriptor for pid, or -1 with errno.
int OpenProcessDescriptor(pid_t pid);

// pidfd_send_signal; wholeGroup signals the process group the process leads. 0, or -1
// with errno.
int SignalThroughDescriptor(int pidfd, int signal, bool wholeGroup);

// waitid(P_PIDFD, ...): 0 with *info filled, or -1 with errno.
int WaitThroughDescriptor(int pidfd, siginfo_t* info, int options);

}  // namespace ifxlib
