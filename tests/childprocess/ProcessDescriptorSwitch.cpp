#include "childprocess/ProcessDescriptorSwitch.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>

namespace {

constexpr long kPidfdSendSignal = 424;
constexpr long kPidfdOpen = 434;
constexpr int kIdTypePidfd = 3;

std::atomic<ifxtest::ProcessDescriptors> g_mode{ifxtest::ProcessDescriptors::kAsTheKernelHas};

using SyscallFunction = long (*)(long, ...);
using WaitidFunction = int (*)(idtype_t, id_t, siginfo_t*, int);

template <typename Function>
Function real(const char* name) {
    auto* found = reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
    if (found == nullptr) {
        std::abort();
    }
    return found;
}

SyscallFunction realSyscall() {
    static const auto function = real<SyscallFunction>("syscall");
    return function;
}

long refuse(int error) {
    errno = error;
    return -1;
}

}  // namespace

namespace ifxtest {

const char* ProcessDescriptorsName(ProcessDescriptors mode) {
    switch (mode) {
        case ProcessDescriptors::kAsTheKernelHas:
            return "descriptors";
        case ProcessDescriptors::kNoGroupOrWaitid:
            return "descriptorsWithoutWaitid";
        case ProcessDescriptors::kNone:
            return "noDescriptors";
    }
    return "?";
}

void SetProcessDescriptors(ProcessDescriptors mode) {
    g_mode = mode;
}

int OpenProcessDescriptorAnyway(pid_t pid) {
    return static_cast<int>(realSyscall()(kPidfdOpen, static_cast<long>(pid), 0L));
}

}  // namespace ifxtest

// Found before the C library's definitions because the program comes first in the lookup
// order; the shared libraries' calls arrive here too.
extern "C" __attribute__((visibility("default"))) long syscall(long number, ...) {
    va_list list;
    va_start(list, number);
    long a[6];
    for (long& argument : a) {
        argument = va_arg(list, long);
    }
    va_end(list);
    const ifxtest::ProcessDescriptors mode = g_mode;
    if (mode == ifxtest::ProcessDescriptors::kNone &&
        (number == kPidfdOpen || number == kPidfdSendSignal)) {
        return refuse(ENOSYS);
    }
    if (mode == ifxtest::ProcessDescriptors::kNoGroupOrWaitid && number == kPidfdSendSignal &&
        a[3] != 0) {
        return refuse(EINVAL);
    }
    return realSyscall()(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

extern "C" __attribute__((visibility("default"))) int waitid(idtype_t type, id_t id,
                                                             siginfo_t* info, int options) {
    static const auto function = real<WaitidFunction>("waitid");
    if (g_mode != ifxtest::ProcessDescriptors::kAsTheKernelHas &&
        static_cast<int>(type) == kIdTypePidfd) {
        return static_cast<int>(refuse(EINVAL));
    }
    return function(type, id, info, options);
}
