#include "ProcessDescriptor.h"

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <IfxLib/platform/NewerSystemCalls.h>

namespace ifxlib {

namespace {

using syscalls::kPidfdOpen;
using syscalls::kPidfdSendSignal;
constexpr int kIdTypePidfd = 3;                    // P_PIDFD
constexpr unsigned kSignalProcessGroup = 1U << 2;  // PIDFD_SIGNAL_PROCESS_GROUP

}  // namespace

bool KernelLacks(int error) {
    return error == ENOSYS || error == EINVAL || error == EPERM;
}

int OpenProcessDescriptor(pid_t pid) {
    return static_cast<int>(::syscall(kPidfdOpen, pid, 0U));
}

int SignalThroughDescriptor(int pidfd, int signal, bool wholeGroup) {
    return static_cast<int>(
        ::syscall(kPidfdSendSignal, pidfd, signal, nullptr, wholeGroup ? kSignalProcessGroup : 0U));
}

int WaitThroughDescriptor(int pidfd, siginfo_t* info, int options) {
    int result;
    do {
        result =
            ::waitid(static_cast<idtype_t>(kIdTypePidfd), static_cast<id_t>(pidfd), info, options);
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace ifxlib
