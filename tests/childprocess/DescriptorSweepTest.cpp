// The agent's descriptors must not reach the program on kernels without close_range's
// close-on-exec flag (before 5.11), nor where /proc cannot be read. Each case runs in a
// forked copy of the test, the agent: a seccomp filter makes close_range fail there as an
// old kernel or an old container profile would, and the descriptor limits it lowers
// cannot be raised again.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/NewerSystemCalls.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <optional>
#include <string>

#include "childprocess/ChildTestSupport.h"
#include "support/SystemCallFailure.h"

namespace {

using ifxtest::Launch;

// The descriptor the agent opened before it lowered its limits, and the limits then.
constexpr int kHighDescriptor = 500;
constexpr rlim_t kLoweredSoftLimit = 256;

// Exit codes of the forked agent other than 0 (the answer was written).
constexpr int kNotHere = 120;  // no seccomp filter, no mount namespace, low limits
constexpr int kSetupFailed = 121;

struct AgentSetup {
    Launch how;
    int closeRangeError;
    // The hard limit is lowered below the high descriptor too: only the /proc listing
    // finds it then, a loop up to the limit would not.
    bool lowerHardLimit;
    // /proc hidden under an empty file system in a mount namespace of the agent's own.
    bool hideProc;
    std::string helper;
    std::optional<std::string> user;
};

bool openHighDescriptor() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max <= kHighDescriptor + 10) {
        return false;
    }
    limit.rlim_cur = limit.rlim_max;
    const int any = ::open("/dev/null", O_RDONLY);
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 && any >= 0 &&
           ::fcntl(any, F_DUPFD, kHighDescriptor) == kHighDescriptor;
}

bool lowerLimits(bool hardToo) {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return false;
    }
    limit.rlim_cur = kLoweredSoftLimit;
    // Not hidden from the loop, but not far above the descriptor: the loop (and the
    // helper's own count without /proc) go up to it one number at a time.
    limit.rlim_max = hardToo ? kLoweredSoftLimit : kHighDescriptor + 100;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool hideProc() {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("none", "/proc", "tmpfs", 0, nullptr) == 0;
}

// The forked agent: sets itself up, launches the helper, writes its "fds" answer to
// report and ends.
[[noreturn]] void RunAgent(const AgentSetup& setup, int report) {
    if (!openHighDescriptor() || (setup.hideProc && !hideProc())) {
        ::_exit(kNotHere);
    }
    if (!lowerLimits(setup.lowerHardLimit)) {
        ::_exit(kSetupFailed);
    }
    if (ifxtest::FailSystemCalls({ifxlib::syscalls::kCloseRange}, setup.closeRangeError) != 0) {
        ::_exit(kNotHere);
    }
    IfxChildProcess child;
    ifxtest::LaunchArgs args;
    args.path = setup.helper;
    args.user = setup.user;
    if (ifxtest::LaunchChild(child, setup.how, args) != 0) {
        ::_exit(kSetupFailed);
    }
    const std::string answer = ifxtest::Ask(child, "fds");
    child.Finalize();
    ifxtest::WaitForStatus(child, setup.how);
    const bool written =
        ::write(report, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
    ::_exit(written ? 0 : kSetupFailed);
}

// The helper's "fds" answer as the forked agent got it; empty when the machine cannot set
// the case up (the test is skipped then).
std::string LaunchedProgramDescriptors(const AgentSetup& setup) {
    // Inheritable on purpose: the program must not get this one either.
    int report[2];
    EXPECT_EQ(::pipe(report), 0);
    const pid_t agent = ::fork();
    EXPECT_GE(agent, 0);
    if (agent == 0) {
        ::close(report[0]);
        RunAgent(setup, report[1]);
    }
    ::close(report[1]);
    std::string answer;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(report[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ADD_FAILURE() << "reading the agent's report: errno " << errno;
            break;
        }
        answer.append(buffer, static_cast<size_t>(n));
    }
    ::close(report[0]);
    int raw = 0;
    EXPECT_EQ(::waitpid(agent, &raw, 0), agent);
    EXPECT_TRUE(WIFEXITED(raw)) << "status " << raw;
    const int code = WEXITSTATUS(raw);
    EXPECT_TRUE(code == 0 || code == kNotHere) << "the agent ended with " << code;
    return code == 0 ? answer : std::string();
}

// Root launches as nobody: the child walks /proc/self/fd after its user switch, when the
// kernel has made it non-dumpable and the directory is root's.
TEST(DescriptorSweep, WithoutCloseRangeTheListingFindsADescriptorAboveEveryLimit) {
    const bool root = ::getuid() == 0;
    const std::optional<std::string> user =
        root ? std::optional<std::string>("nobody") : std::nullopt;
    const std::string helper =
        root ? ifxtest::ChildHelperPathForAnyUser() : ifxtest::ChildHelperPath();
    // ENOSYS before 5.9, EINVAL for the flag on 5.9 and 5.10, EPERM from old container
    // profiles.
    for (const int error : {ENOSYS, EINVAL, EPERM}) {
        for (const Launch how : {Launch::Direct, Launch::ProcessService}) {
            SCOPED_TRACE(std::string(ifxtest::LaunchName(how)) + ", close_range errno " +
                         std::to_string(error));
            const std::string answer =
                LaunchedProgramDescriptors({how, error, true, false, helper, user});
            if (answer.empty()) {
                GTEST_SKIP() << "no seccomp filter or too low a hard descriptor limit here";
            }
            EXPECT_EQ(answer, "fds=0,1,2");
        }
    }
}

TEST(DescriptorSweep, WithoutCloseRangeOrProcTheLoopReachesTheHardLimit) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "hiding /proc needs a mount namespace, root's";
    }
    for (const Launch how : {Launch::Direct, Launch::ProcessService}) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        const std::string answer = LaunchedProgramDescriptors(
            {how, ENOSYS, false, true, ifxtest::ChildHelperPath(), std::nullopt});
        if (answer.empty()) {
            GTEST_SKIP() << "no seccomp filter or mount namespace here";
        }
        EXPECT_EQ(answer, "fds=0,1,2");
    }
}

}  // namespace
