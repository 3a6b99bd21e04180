#include "support/KernelView.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ostream>
#include <string>

namespace {

// A call as the views see it: its result, or -1 with errno.
using Call = long (*)();

long GetRandom() {
    unsigned char byte = 0;
    return ::syscall(ifxtest::ViewedSystemCallNumber("getrandom"), &byte, 1, 0);
}

long Pipe2() {
    int ends[2] = {-1, -1};
    return ::syscall(SYS_pipe2, ends, O_CLOEXEC);
}

// P_PIDFD (3) with descriptor 0: a kernel that knows the type says EBADF, not EINVAL.
long WaitidByDescriptor() {
    siginfo_t info{};
    return ::syscall(ifxtest::ViewedSystemCallNumber("waitid"), 3, 0, &info, WEXITED | WNOHANG,
                     nullptr);
}

long Clone3() {
    return ::syscall(ifxtest::ViewedSystemCallNumber("clone3"), nullptr, 0);
}

long PidfdOpen() {
    return ::syscall(ifxtest::ViewedSystemCallNumber("pidfd_open"), ::getpid(), 0);
}

long PidfdOpenNonBlocking() {
    return ::syscall(ifxtest::ViewedSystemCallNumber("pidfd_open"), ::getpid(), O_NONBLOCK);
}

long CloseRangeOfNothing() {
    return ::syscall(ifxtest::ViewedSystemCallNumber("close_range"), 1u << 30, 1u << 30, 0);
}

// getpid through the 32-bit interface of x86-64 (number 20 there): another architecture's
// call, which every view refuses whatever its number means natively.
long ForeignGetpid() {
#if defined(__x86_64__) && !defined(__ILP32__)
    long result = 20;
    asm volatile("int $0x80" : "+a"(result) : : "memory");
    if (result < 0) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return result;
#else
    errno = ENOTSUP;
    return -1;
#endif
}

struct ViewCase {
    const char* view;
    const char* name;
    Call call;
    int error;  // 0: the call works
};

std::ostream& operator<<(std::ostream& out, const ViewCase& c) {
    return out << c.view << " " << c.name;
}

const ViewCase kCases[] = {
    {"3.10", "GetrandomIsMissing", GetRandom, ENOSYS},
    {"3.10", "Pipe2Works", Pipe2, 0},
    {"3.10", "WaitidRefusesTheDescriptorType", WaitidByDescriptor, EINVAL},
    {"3.10", "AnotherArchitecturesCallIsMissing", ForeignGetpid, ENOSYS},
    {"4.19", "GetrandomWorks", GetRandom, 0},
    {"4.19", "Clone3IsMissing", Clone3, ENOSYS},
    {"4.19", "PidfdOpenIsMissing", PidfdOpen, ENOSYS},
    {"5.4", "PidfdOpenWorks", PidfdOpen, 0},
    {"5.4", "PidfdOpenRefusesANonBlockingDescriptor", PidfdOpenNonBlocking, EINVAL},
    {"5.4", "CloseRangeIsMissing", CloseRangeOfNothing, ENOSYS},
};

constexpr int kNotHere = 200;    // the call fails here even without the view
constexpr int kNoFilters = 201;  // no seccomp filters here

// In a process of its own, as the view cannot be left: the call's errno (0 when it worked)
// as the exit status. A call that must work in the view must work without it first, and
// another architecture's call must be possible here at all (some kernels end the process
// with SIGSEGV for it): the machine's own kernel, or a view the tests already run under,
// may lack it.
int ErrorInView(const ViewCase& c) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (c.error == 0 || c.call == ForeignGetpid) {
            ::signal(SIGSEGV, [](int) { ::_exit(kNotHere); });
            if (c.call() < 0) {
                ::_exit(kNotHere);
            }
            ::signal(SIGSEGV, SIG_DFL);
        }
        if (ifxtest::EnterKernelView(c.view) != 0) {
            ::_exit(kNoFilters);
        }
        errno = 0;
        ::_exit(c.call() < 0 ? errno : 0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class KernelView : public ::testing::TestWithParam<ViewCase> {};

TEST_P(KernelView, AnswersAsTheOlderKernel) {
    const ViewCase& c = GetParam();
    const int error = ErrorInView(c);
    if (error == kNotHere) {
        GTEST_SKIP() << "the call does not work here even without the view";
    }
    if (error == kNoFilters) {
        GTEST_SKIP() << "no seccomp filters here";
    }
    EXPECT_EQ(error, c.error) << (error > 0 ? std::strerror(error) : "");
}

INSTANTIATE_TEST_SUITE_P(Calls, KernelView, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ViewCase>& info) {
                             std::string view = info.param.view;
                             for (char& c : view) {
                                 c = c == '.' ? '_' : c;
                             }
                             return "View" + view + "_" + info.param.name;
                         });

TEST(KernelView, AnUnknownViewIsRefused) {
    EXPECT_EQ(ifxtest::EnterKernelView("2.6"), EINVAL);
}

}  // namespace
