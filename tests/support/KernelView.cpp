#include "support/KernelView.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "support/SystemCallFailure.h"

namespace ifxtest {

namespace {

// A kernel release as a number: 3.10 is 310, 4.19 is 419, 5.4 is 504.
constexpr int Release(int major, int minor) {
    return major * 100 + minor;
}

struct View {
    const char* name;
    int release;
};

const View kViews[] = {
    {"3.10", Release(3, 10)},
    {"4.19", Release(4, 19)},
    {"5.4", Release(5, 4)},
};

// A call and the release that first had it on the architecture (0: 3.10 had it).
struct Call {
    long number;
    const char* name;
    int since;
};

// One architecture's system-call table as the views need it: every number up to
// lastOf310 was the table of 3.10 (a number of it that the kernel left empty fails there
// as it did then); calls lists what came after, up to close_range, by the kernels'
// tables. A number neither covers fails with ENOSYS in every view: whatever came after
// close_range came after the newest view too.
struct Architecture {
    long lastOf310;
    const Call* calls;
    std::size_t count;
};

#if defined(__x86_64__) && !defined(__ILP32__)
// The x32 interface (numbers from 0x40000000 on) is in no view: the tests are 64-bit.
constexpr Call kCalls[] = {
    {247, "waitid", 0},
    {314, "sched_setattr", Release(3, 14)},
    {315, "sched_getattr", Release(3, 14)},
    {316, "renameat2", Release(3, 15)},
    {317, "seccomp", Release(3, 17)},
    {318, "getrandom", Release(3, 17)},
    {319, "memfd_create", Release(3, 17)},
    {320, "kexec_file_load", Release(3, 17)},
    {321, "bpf", Release(3, 18)},
    {322, "execveat", Release(3, 19)},
    {323, "userfaultfd", Release(4, 3)},
    {324, "membarrier", Release(4, 3)},
    {325, "mlock2", Release(4, 4)},
    {326, "copy_file_range", Release(4, 5)},
    {327, "preadv2", Release(4, 6)},
    {328, "pwritev2", Release(4, 6)},
    {329, "pkey_mprotect", Release(4, 9)},
    {330, "pkey_alloc", Release(4, 9)},
    {331, "pkey_free", Release(4, 9)},
    {332, "statx", Release(4, 11)},
    {333, "io_pgetevents", Release(4, 18)},
    {334, "rseq", Release(4, 18)},
    {424, "pidfd_send_signal", Release(5, 1)},
    {425, "io_uring_setup", Release(5, 1)},
    {426, "io_uring_enter", Release(5, 1)},
    {427, "io_uring_register", Release(5, 1)},
    {428, "open_tree", Release(5, 2)},
    {429, "move_mount", Release(5, 2)},
    {430, "fsopen", Release(5, 2)},
    {431, "fsconfig", Release(5, 2)},
    {432, "fsmount", Release(5, 2)},
    {433, "fspick", Release(5, 2)},
    {434, "pidfd_open", Release(5, 3)},
    {435, "clone3", Release(5, 3)},
    {436, "close_range", Release(5, 9)},
    {437, "openat2", Release(5, 6)},
    {438, "pidfd_getfd", Release(5, 6)},
};
constexpr Architecture kArchitecture{313, kCalls, std::size(kCalls)};
#elif defined(__powerpc64__)
// The 64-bit interface of big- and little-endian kernels alike. The direct socket calls
// (326-344) were there before 3.10; the direct System V IPC calls (392-402) came in 5.1,
// before which the C library goes through ipc(). The calls from 355 to 388 reached PowerPC
// one by one, some later than x86-64; every one was there by 4.18, and the views need to
// know no more of them.
constexpr int kBy418 = Release(4, 18);
constexpr Call kCalls[] = {
    {272, "waitid", 0},
    {355, "sched_setattr", kBy418},
    {356, "sched_getattr", kBy418},
    {357, "renameat2", kBy418},
    {358, "seccomp", kBy418},
    {359, "getrandom", kBy418},
    {360, "memfd_create", kBy418},
    {361, "bpf", kBy418},
    {362, "execveat", kBy418},
    {363, "switch_endian", kBy418},
    {364, "userfaultfd", kBy418},
    {365, "membarrier", kBy418},
    {378, "mlock2", kBy418},
    {379, "copy_file_range", kBy418},
    {380, "preadv2", kBy418},
    {381, "pwritev2", kBy418},
    {382, "kexec_file_load", kBy418},
    {383, "statx", kBy418},
    {384, "pkey_alloc", kBy418},
    {385, "pkey_free", kBy418},
    {386, "pkey_mprotect", kBy418},
    {387, "rseq", kBy418},
    {388, "io_pgetevents", kBy418},
    {392, "semtimedop", Release(5, 1)},
    {393, "semget", Release(5, 1)},
    {394, "semctl", Release(5, 1)},
    {395, "shmget", Release(5, 1)},
    {396, "shmctl", Release(5, 1)},
    {397, "shmat", Release(5, 1)},
    {398, "shmdt", Release(5, 1)},
    {399, "msgget", Release(5, 1)},
    {400, "msgsnd", Release(5, 1)},
    {401, "msgrcv", Release(5, 1)},
    {402, "msgctl", Release(5, 1)},
    {424, "pidfd_send_signal", Release(5, 1)},
    {425, "io_uring_setup", Release(5, 1)},
    {426, "io_uring_enter", Release(5, 1)},
    {427, "io_uring_register", Release(5, 1)},
    {428, "open_tree", Release(5, 2)},
    {429, "move_mount", Release(5, 2)},
    {430, "fsopen", Release(5, 2)},
    {431, "fsconfig", Release(5, 2)},
    {432, "fsmount", Release(5, 2)},
    {433, "fspick", Release(5, 2)},
    {434, "pidfd_open", Release(5, 3)},
    {435, "clone3", Release(5, 4)},
    {436, "close_range", Release(5, 9)},
    {437, "openat2", Release(5, 6)},
    {438, "pidfd_getfd", Release(5, 6)},
};
constexpr Architecture kArchitecture{354, kCalls, std::size(kCalls)};
#else
constexpr Architecture kArchitecture{-1, nullptr, 0};
#endif

// A flag or type of a call that older kernels refuse with EINVAL: the low 32 bits of an
// argument equal to value, or with a bit of value set; known from release knownSince on.
struct Refusal {
    const char* call;
    unsigned argument;
    bool anyBit;
    std::uint32_t value;
    int knownSince;
};

const Refusal kRefusals[] = {
    // waitid's P_PIDFD (3): waiting through a process descriptor.
    {"waitid", 0, false, 3, Release(5, 4)},
    // Every flag of pidfd_open (PIDFD_NONBLOCK was the first) and of pidfd_send_signal
    // (PIDFD_SIGNAL_*): before them the flags had to be 0.
    {"pidfd_open", 1, true, ~0U, Release(5, 10)},
    {"pidfd_send_signal", 3, true, ~0U, Release(6, 9)},
};

const Call* FindCall(const std::string& name) {
    for (std::size_t i = 0; i < kArchitecture.count; ++i) {
        if (name == kArchitecture.calls[i].name) {
            return &kArchitecture.calls[i];
        }
    }
    return nullptr;
}

SystemCallFilter FilterOf(int release) {
    SystemCallFilter filter;
    for (const Refusal& refusal : kRefusals) {
        const Call* call = FindCall(refusal.call);
        if (call == nullptr || call->since > release || refusal.knownSince <= release) {
            continue;
        }
        if (refusal.anyBit) {
            filter.FailWhenArgumentHasAny(call->number, refusal.argument, refusal.value, EINVAL);
        } else {
            filter.FailWhenArgumentIs(call->number, refusal.argument, ~0U, refusal.value, EINVAL);
        }
    }
    filter.Allow(0, kArchitecture.lastOf310);
    // The table is in number order: neighbouring calls the view has make one range.
    for (std::size_t i = 0; i < kArchitecture.count;) {
        const Call& first = kArchitecture.calls[i];
        if (first.since == 0 || first.since > release) {
            ++i;
            continue;
        }
        std::size_t next = i + 1;
        while (next < kArchitecture.count && kArchitecture.calls[next].since != 0 &&
               kArchitecture.calls[next].since <= release &&
               kArchitecture.calls[next].number == kArchitecture.calls[next - 1].number + 1) {
            ++next;
        }
        filter.Allow(first.number, kArchitecture.calls[next - 1].number);
        i = next;
    }
    return filter;
}

}  // namespace

std::vector<std::string> KernelViewNames() {
    std::vector<std::string> names;
    for (const View& view : kViews) {
        names.push_back(view.name);
    }
    return names;
}

int EnterKernelView(const std::string& name) {
    for (const View& view : kViews) {
        if (name == view.name) {
            return kArchitecture.count == 0 ? ENOSYS : FilterOf(view.release).Install(ENOSYS);
        }
    }
    return EINVAL;
}

long ViewedSystemCallNumber(const std::string& name) {
    const Call* call = FindCall(name);
    return call == nullptr ? -1 : call->number;
}

}  // namespace ifxtest
