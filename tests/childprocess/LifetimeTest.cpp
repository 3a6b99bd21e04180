// Bounding and ending a child's life, its launch errors, and plain bytes: WaitFor, Stop,
// SendSignal, ExitDescriptor, the launch options, LaunchError, WriteBytes, ReadBytes and
// CloseInput, on both launches (and, through the fork: copies, on both engines).

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "childprocess/ChildTestSupport.h"
#include "childprocess/ProcessDescriptorSwitch.h"
#include "support/Sanitizers.h"
#include "support/SystemCallFailure.h"
#include "support/TempDir.h"

namespace ifxtest {

// GoogleTest prints the parameter by this rather than as bytes.
void PrintTo(Launch how, std::ostream* out) {
    *out << LaunchName(how);
}

}  // namespace ifxtest

namespace {

using ifxtest::Launch;
using ifxtest::ProcessDescriptors;

const Launch kLaunches[] = {Launch::Direct, Launch::ProcessService};
const ProcessDescriptors kDescriptorModes[] = {ProcessDescriptors::kAsTheKernelHas,
                                               ProcessDescriptors::kNoGroupOrWaitid,
                                               ProcessDescriptors::kNone};
// Long enough for a slow emulated machine under sanitizers; only a hang reaches it.
constexpr long kHangBound = 120000;
constexpr int kTerminated = 128 + SIGTERM;
constexpr int kKilled = 128 + SIGKILL;

// A process the test does not parent ends within a bound: seen by the end of a pipe it
// holds (the utility's output, which a grandchild keeps).
bool OutputEndsWithin(IfxChildProcess& child, int milliseconds) {
    char buffer[256];
    for (;;) {
        struct pollfd entry {};
        entry.fd = child.m_phpipecw[0];
        entry.events = POLLIN;
        int ready;
        while ((ready = ::poll(&entry, 1, milliseconds)) < 0 && errno == EINTR) {
        }
        if (ready <= 0) {
            return false;
        }
        const long count = child.ReadBytes(buffer, sizeof buffer);
        if (count == 0) {
            return true;
        }
        if (count < 0 && errno != EINTR) {
            return false;
        }
    }
}

// The number of this process's threads that are not on their way out.
size_t LiveThreads() {
    size_t count = 0;
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) {
        return 0;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream stat(std::string("/proc/self/task/") + entry->d_name + "/stat");
        std::string text;
        std::getline(stat, text);
        const size_t close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(text.substr(close + 1));
        std::string field;
        unsigned long flags = 0;
        for (int i = 0; i < 7 && fields >> field; ++i) {
            if (i == 6) {
                flags = std::stoul(field);
            }
        }
        constexpr unsigned long kExiting = 0x4;
        count += (flags & kExiting) == 0 ? 1 : 0;
    }
    ::closedir(dir);
    return count;
}

using LifetimeParam = std::tuple<Launch, ProcessDescriptors>;

// Every case on both launches, and with the process-descriptor calls the kernel has, with
// those of Linux 5.3 and with none: the results must be the same.
class Lifetime : public ::testing::TestWithParam<LifetimeParam> {
  protected:
    void SetUp() override { ifxtest::SetProcessDescriptors(std::get<1>(GetParam())); }
    void TearDown() override {
        ifxtest::SetProcessDescriptors(ProcessDescriptors::kAsTheKernelHas);
    }
    static Launch How() { return std::get<0>(GetParam()); }
    void Start(std::vector<std::string> argv = {}, bool nonBlocking = false) {
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        args.nonBlocking = nonBlocking;
        if (!argv.empty()) {
            argv.insert(argv.begin(), args.path);
            args.argv = argv;
        }
        ASSERT_EQ(ifxtest::LaunchChild(m_child, How(), args), 0);
    }
    std::string Ask(const std::string& command) { return ifxtest::Ask(m_child, command); }

    EvEvent m_event;
    IfxChildProcess m_child;
};

std::string LaunchParamName(const ::testing::TestParamInfo<LifetimeParam>& info) {
    return std::string(ifxtest::LaunchName(std::get<0>(info.param))) + "_" +
           ifxtest::ProcessDescriptorsName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(BothLaunches, Lifetime,
                         ::testing::Combine(::testing::ValuesIn(kLaunches),
                                            ::testing::ValuesIn(kDescriptorModes)),
                         LaunchParamName);

// With and without the wait thread: a child that ends within the bound gives its status,
// one that does not gives ETIMEDOUT and can be waited for again.
TEST_P(Lifetime, WaitForIsBoundedAndMayBeRepeated) {
    for (const bool withThread : {false, true}) {
        SCOPED_TRACE(withThread ? "with the wait thread" : "without the wait thread");
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        if (withThread) {
            ASSERT_EQ(child.BeginWait(), 0);
        }
        errno = 0;
        EXPECT_EQ(child.WaitFor(20), -1);
        EXPECT_EQ(errno, ETIMEDOUT);
        EXPECT_EQ(child.WaitFor(0), -1);
        EXPECT_EQ(errno, ETIMEDOUT);
        EXPECT_EQ(ifxtest::Ask(child, "echo still here"), "still here");
        std::string command = "exit 7";
        ASSERT_EQ(child.WriteBuf(command.data()), 0);
        EXPECT_EQ(child.WaitFor(kHangBound), 7);
        // Asked again, and by Wait: the same status, not a second reaping.
        EXPECT_EQ(child.WaitFor(0), 7);
        if (How() == Launch::ProcessService) {
            if (withThread) {
                // WaitFor returned after the thread's report was complete.
                EXPECT_TRUE(child.m_bwaitfailed);
                EXPECT_EQ(child.m_exitcode, 7);
            } else {
                EXPECT_EQ(child.Wait(0), 7);
            }
        }
        // The status never went through m_lasterror from WaitFor itself.
        if (!withThread) {
            EXPECT_EQ(child.m_lasterror, 0);
        }
    }
}

TEST_P(Lifetime, WaitForWithoutABoundWaitsForTheEnd) {
    Start();
    ASSERT_EQ(m_child.Finalize(), 0);  // the end of its input: the helper exits 0
    EXPECT_EQ(m_child.WaitFor(-1), 0);
}

TEST_P(Lifetime, ExitDescriptorBecomesReadableAtTheEnd) {
    Start();
    const int fd = m_child.ExitDescriptor();
    ASSERT_GE(fd, 0);
    struct pollfd entry {
        fd, POLLIN, 0
    };
    EXPECT_EQ(::poll(&entry, 1, 0), 0);
    m_child.CloseInput();
    ASSERT_EQ(::poll(&entry, 1, static_cast<int>(kHangBound)), 1);
    EXPECT_EQ(m_child.WaitFor(0), 0);
    // Still the object's, still readable after the reaping.
    EXPECT_EQ(m_child.ExitDescriptor(), fd);
    EXPECT_EQ(::poll(&entry, 1, 0), 1);
}

TEST_P(Lifetime, StopEndsAChildThatObeysOrIgnoresSigterm) {
    struct Case {
        const char* name;
        bool ignoresSigterm;
        long grace;
        int status;
    };
    const Case cases[] = {
        {"obeys", false, kHangBound, kTerminated},
        {"obeys, no grace bound", false, -1, kTerminated},
        {"ignores", true, 50, kKilled},
        {"ignores, no grace", true, 0, kKilled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        if (c.ignoresSigterm) {
            ASSERT_EQ(ifxtest::Ask(child, "ignore 15"), "ignoring");
        } else {
            // Ignored signals survive exec: a run that ignores SIGTERM cannot show obedience.
            ASSERT_EQ(ifxtest::Ask(child, "signal 15"), "default");
        }
        EXPECT_EQ(child.Stop(c.grace), c.status);
        // Once reaped: the status again, and nothing is sent.
        EXPECT_EQ(child.Stop(0), c.status);
        errno = 0;
        EXPECT_EQ(child.SendSignal(SIGKILL), -1);
        EXPECT_EQ(errno, ESRCH);
    }
}

// The wait thread reaped the child: Stop reports its status and signals nothing, not even
// a process that might have taken the number since.
TEST_P(Lifetime, StopAfterTheWaitThreadReapedSendsNothing) {
    Start();
    ASSERT_EQ(m_child.BeginWait(), 0);
    std::string command = "exit 5";
    ASSERT_EQ(m_child.WriteBuf(command.data()), 0);
    ASSERT_EQ(m_child.m_pthread->join(), 0);
    if (How() == Launch::Direct) {
        // After Initialize the thread has no status: WaitFor reaps the child itself.
        EXPECT_EQ(m_child.WaitFor(kHangBound), 5);
    } else {
        EXPECT_EQ(m_child.m_exitcode, 5);
    }
    EXPECT_EQ(m_child.Stop(kHangBound), 5);
    errno = 0;
    EXPECT_EQ(m_child.SendSignal(SIGTERM), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST_P(Lifetime, SendSignalReachesTheChildOnly) {
    Start();
    EXPECT_EQ(m_child.SendSignal(0), 0);
    errno = 0;
    EXPECT_EQ(m_child.SendSignal(-1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(m_child.SendSignal(SIGKILL), 0);
    EXPECT_EQ(m_child.WaitFor(kHangBound), kKilled);
}

// A stopped utility runs its SIGTERM handler only once continued: Stop continues it.
TEST_P(Lifetime, StopContinuesAStoppedUtility) {
    struct Case {
        const char* name;
        unsigned options;
        int stopSignal;
        long grace;
    };
    // SIGSTOP alone: the terminal's stop signals are discarded in an orphaned process
    // group, as a test's may be.
    const Case cases[] = {
        {"stopped", 0, SIGSTOP, kHangBound},
        {"stopped, no grace bound", 0, SIGSTOP, -1},
        {"stopped, own group", IfxChildProcess::kOwnProcessGroup, SIGSTOP, kHangBound},
        {"stopped, own group, no grace bound", IfxChildProcess::kOwnProcessGroup, SIGSTOP, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IfxChildProcess child;
        child.SetLaunchOptions(c.options);
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        ASSERT_EQ(ifxtest::Ask(child, "on-term 7"), "trapping");
        ASSERT_EQ(::kill(child.m_childpid, c.stopSignal), 0);
        siginfo_t info{};
        ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child.m_childpid), &info, WSTOPPED | WNOWAIT),
                  0);
        ASSERT_EQ(info.si_code, CLD_STOPPED);
        EXPECT_EQ(child.Stop(c.grace), 7);
    }
}

// Every long is a bound or none: one the clock cannot reach waits for the end, as a
// negative one does, and never times out at once.
TEST_P(Lifetime, HugeAndNegativeBoundsMeanNoBound) {
    struct Case {
        long bound;
        bool endsByItself;  // otherwise it holds until stopped
        int waitResult;     // WaitFor's: the status, or -1 with ETIMEDOUT
    };
    const Case cases[] = {
        {0, false, -1},      {1, false, -1}, {INT_MAX, true, 7},         {LONG_MAX, true, 7},
        {LONG_MIN, true, 7}, {-1, true, 7},  {10000000000000L, true, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("WaitFor(" + std::to_string(c.bound) + ")");
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        if (c.endsByItself) {
            args.argv = std::vector<std::string>{args.path, "--commands", "sleep 20", "exit 7"};
        }
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        errno = 0;
        EXPECT_EQ(child.WaitFor(c.bound), c.waitResult);
        if (c.waitResult < 0) {
            EXPECT_EQ(errno, ETIMEDOUT);
            EXPECT_EQ(child.Stop(kHangBound), kTerminated);
        }
    }
    // Stop: a grace the clock cannot reach is no grace bound (SIGTERM, the handler's
    // status); a short one against a utility that ignores SIGTERM ends in SIGKILL.
    struct StopCase {
        long grace;
        bool ignoresSigterm;
        int status;
    };
    const StopCase stopCases[] = {
        {INT_MAX, false, 7}, {LONG_MAX, false, 7}, {LONG_MIN, false, 7},
        {-1, false, 7},      {0, true, kKilled},   {1, true, kKilled},
    };
    for (const StopCase& c : stopCases) {
        SCOPED_TRACE("Stop(" + std::to_string(c.grace) + ")");
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        ASSERT_EQ(ifxtest::Ask(child, c.ignoresSigterm ? "ignore 15" : "on-term 7"),
                  c.ignoresSigterm ? "ignoring" : "trapping");
        EXPECT_EQ(child.Stop(c.grace), c.status);
    }
}

// A process the utility started goes with it when the utility leads its own group, and is
// left to the caller otherwise.
TEST_P(Lifetime, StopReachesTheUtilitysGroupOnlyWithTheOption) {
    for (const bool ownGroup : {true, false}) {
        SCOPED_TRACE(ownGroup ? "own process group" : "the agent's group");
        IfxChildProcess child;
        child.SetLaunchOptions(ownGroup ? IfxChildProcess::kOwnProcessGroup : 0);
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        EXPECT_EQ(::getpgid(child.m_childpid) == child.m_childpid, ownGroup);
        ASSERT_EQ(ifxtest::Ask(child, "signal 15"), "default");
        const pid_t grandchild = std::atoi(ifxtest::Ask(child, "grandchild keep-output").c_str());
        ASSERT_GT(grandchild, 0);
        EXPECT_EQ(child.Stop(kHangBound), kTerminated);
        if (ownGroup) {
            EXPECT_TRUE(OutputEndsWithin(child, static_cast<int>(kHangBound)));
        } else {
            // The grandchild still holds the output, so it still lives and has its number.
            EXPECT_FALSE(OutputEndsWithin(child, 0));
            ASSERT_EQ(::kill(grandchild, SIGKILL), 0);
            EXPECT_TRUE(OutputEndsWithin(child, static_cast<int>(kHangBound)));
        }
    }
}

// Stop ends the whole group, whatever the leader does with SIGTERM: the leader is kept
// unreaped (its zombie holds the group's number) until nothing else of the group is left,
// and the status is the leader's. The grandchild here ignores SIGTERM, so it takes the
// grace and SIGKILL.
TEST_P(Lifetime, StopEmptiesTheGroupWhateverTheLeaderDoes) {
    struct Case {
        const char* name;
        const char* leaderCommand;  // null: none
        bool leaderEndsFirst;
        int status;
    };
    const Case cases[] = {
        {"leader dies of SIGTERM", nullptr, false, kTerminated},
        {"leader exits 0 on SIGTERM", "on-term 0", false, 0},
        {"leader already ended", nullptr, true, 0},
        {"leader ignores SIGTERM", "ignore 15", false, kKilled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IfxChildProcess child;
        child.SetLaunchOptions(IfxChildProcess::kOwnProcessGroup);
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        if (c.leaderCommand != nullptr) {
            ASSERT_NE(ifxtest::Ask(child, c.leaderCommand), "");
        }
        const pid_t grandchild =
            std::atoi(ifxtest::Ask(child, "grandchild keep-output ignore-term").c_str());
        ASSERT_GT(grandchild, 0);
        if (c.leaderEndsFirst) {
            std::string command = "exit 0";
            ASSERT_EQ(child.WriteBuf(command.data()), 0);
            siginfo_t info{};
            ASSERT_EQ(
                ::waitid(P_PID, static_cast<id_t>(child.m_childpid), &info, WEXITED | WNOWAIT), 0);
        }
        EXPECT_EQ(child.Stop(200), c.status);
        // The grandchild held the output: its end says the group is gone.
        EXPECT_TRUE(OutputEndsWithin(child, static_cast<int>(kHangBound)));
    }
}

// The launcher ends by SIGKILL, which nobody can intercept: the kernel ends the utility.
// This process becomes the subreaper of its descendants meanwhile, so that the orphaned
// utility becomes its child and its end can be waited for.
TEST_P(Lifetime, TheUtilityEndsWithItsKilledLauncher) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "the direct launch switches users only as root";
    }
    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    const std::string how = ifxtest::LaunchName(How());
    const std::string program = ifxtest::ChildHelperPathForAnyUser();
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0), 0);
    const pid_t launcher = ::fork();
    ASSERT_GE(launcher, 0);
    if (launcher == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::execl(ifxtest::LaunchOncePath(), ifxtest::LaunchOncePath(), how.c_str(), "nobody",
                program.c_str(), "--stop-with-launcher", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(output[1]);
    // Both lines: once "holding" has come, the utility writes nothing more, so the end of
    // its output pipe with the launcher cannot end it by SIGPIPE first.
    std::string lines;
    char byte = 0;
    while (lines.find("holding\n") == std::string::npos && ::read(output[0], &byte, 1) == 1) {
        lines += byte;
    }
    ::close(output[0]);
    const pid_t utility = std::atoi(lines.c_str());
    EXPECT_GT(utility, 0) << "launcher said \"" << lines << "\"";
    ASSERT_EQ(::kill(launcher, SIGKILL), 0);
    int raw = 0;
    ASSERT_EQ(::waitpid(launcher, &raw, 0), launcher);
    if (utility > 0) {
        // Adopted by this process once the launcher died, and killed by the kernel then.
        ASSERT_EQ(::waitpid(utility, &raw, 0), utility);
        EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL) << raw;
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
}

// The launching thread ends at once after the launch: the utility goes with it, on the
// fork start too, where the launch returns only once the child has set its parent-death
// signal.
TEST_P(Lifetime, TheUtilityEndsWithALauncherThreadThatEndsAtOnce) {
    IfxChildProcess child;
    child.SetLaunchOptions(IfxChildProcess::kStopWithLauncher);
    ifxtest::LaunchArgs args;
    args.event = &m_event;
    args.argv = std::vector<std::string>{args.path, "--commands", "hold"};
    int launched = -1;
    std::thread launcher([&] { launched = ifxtest::LaunchChild(child, How(), args); });
    launcher.join();
    ASSERT_EQ(launched, 0);
    EXPECT_EQ(child.WaitFor(kHangBound), kKilled);
}

// Without process descriptors the watcher thread serves bounded waits and the exit
// descriptor. An object destroyed while its child runs leaves it watching: it ends with
// the child, and no thread of the library is left.
TEST_P(Lifetime, NoLibraryThreadOutlivesTheChild) {
    // ThreadSanitizer starts a thread of its own at the first thread the process creates:
    // one made and joined here first keeps it out of the count.
    std::thread([] {}).join();
    const size_t before = LiveThreads();
    pid_t pid = 0;
    {
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        pid = child.m_childpid;
        const int fd = child.ExitDescriptor();
        ASSERT_GE(fd, 0);
        errno = 0;
        EXPECT_EQ(child.WaitFor(1), -1);
        EXPECT_EQ(errno, ETIMEDOUT);
        // Destroyed with the child running: its input ends, and the helper exits 0.
    }
    if (How() == Launch::Direct) {
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
    }
    // A state, not a time: the watcher ends once the child has; bounded for a hang only.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangBound);
    while (LiveThreads() > before && std::chrono::steady_clock::now() < limit) {
        ifxtest::PauseBeforeLookingAgain();
    }
    EXPECT_EQ(LiveThreads(), before);
}

// ---- Agents that reap behind the library ---------------------------------------------

// In a private pid namespace the test forces the utility's number onto another process
// once the agent has let the utility be reaped (SIGCHLD ignored, or its own waitpid): the
// calls must answer ECHILD, keep their bounds and send that process nothing.
std::string RunAgentThatReapsItself(Launch how, bool ignoreSigchld, bool ownGroup) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    if (ignoreSigchld && ::sigaction(SIGCHLD, &ignore, nullptr) != 0) {
        return "sigaction failed";
    }
    EvEvent event;
    IfxChildProcess child;
    child.SetLaunchOptions(ownGroup ? IfxChildProcess::kOwnProcessGroup : 0);
    ifxtest::LaunchArgs args;
    args.event = &event;
    args.argv = std::vector<std::string>{args.path, "--exit", "3"};
    if (ifxtest::LaunchChild(child, how, args) != 0) {
        return "launch failed";
    }
    const pid_t utility = child.m_childpid;
    int raw = 0;
    // Ignored SIGCHLD: blocks until the utility has ended, then ECHILD (the kernel reaped it).
    while (::waitpid(utility, &raw, 0) < 0 && errno == EINTR) {
    }
    // Another process takes the number: forked by a process that is not the agent, as a
    // process of another program would be.
    int report[2];
    int signals[2];
    if (::pipe(report) != 0 || ::pipe(signals) != 0) {
        return "pipe failed";
    }
    const pid_t forker = ::fork();
    if (forker == 0) {
        ::signal(SIGCHLD, SIG_DFL);
        // The kernel frees the number a moment after the reaping wakes waitpid: until
        // then the fork gets the next one, and goes at once.
        pid_t stranger = -1;
        for (int attempt = 0; attempt < 10000 && stranger != utility; ++attempt) {
            if (stranger > 0) {
                ::waitpid(stranger, nullptr, 0);
                ifxtest::PauseBeforeLookingAgain();
            }
            std::ofstream("/proc/sys/kernel/ns_last_pid") << utility - 1;
            stranger = ::fork();
            if (stranger == 0) {
                if (::getpid() != utility) {
                    ::_exit(0);
                }
                break;
            }
        }
        if (stranger == 0) {
            ::setpgid(0, 0);
            static int s_signals = -1;
            s_signals = signals[1];
            struct sigaction note {};
            note.sa_handler = [](int signal) {
                const char byte = static_cast<char>(signal);
                [[maybe_unused]] const ssize_t n = ::write(s_signals, &byte, 1);
            };
            for (const int signal : {SIGTERM, SIGCONT, SIGINT, SIGUSR1}) {
                ::sigaction(signal, &note, nullptr);
            }
            const pid_t self = ::getpid();
            [[maybe_unused]] const ssize_t n = ::write(report[1], &self, sizeof self);
            for (;;) {
                ::pause();
            }
        }
        int strangerRaw = 0;
        ::waitpid(stranger, &strangerRaw, 0);
        // Through the pipe: an agent that ignores SIGCHLD cannot wait for us.
        const int fate = WIFSIGNALED(strangerRaw) ? 128 + WTERMSIG(strangerRaw) : 0;
        [[maybe_unused]] const ssize_t n = ::write(report[1], &fate, sizeof fate);
        ::_exit(0);
    }
    ::close(report[1]);
    ::close(signals[1]);
    pid_t stranger = 0;
    if (::read(report[0], &stranger, sizeof stranger) != sizeof stranger) {
        return "no stranger";
    }
    if (stranger != utility) {
        return "the number was not reused: " + std::to_string(stranger);
    }
    std::ostringstream out;
    errno = 0;
    out << "WaitFor " << child.WaitFor(200) << " " << errno;
    errno = 0;
    out << "; SendSignal " << child.SendSignal(SIGTERM) << " " << errno;
    errno = 0;
    out << "; Stop " << child.Stop(200) << " " << errno;
    errno = 0;
    out << "; WaitFor " << child.WaitFor(-1) << " " << errno;
    const int flags = ::fcntl(signals[0], F_GETFL);
    ::fcntl(signals[0], F_SETFL, flags | O_NONBLOCK);
    char byte = 0;
    const ssize_t got = ::read(signals[0], &byte, 1);
    out << "; stranger " << (got > 0 ? "signalled " + std::to_string(byte) : "quiet");
    ::kill(stranger, SIGKILL);
    int fate = -1;
    if (::read(report[0], &fate, sizeof fate) != sizeof fate) {
        fate = -1;
    }
    ::waitpid(forker, &raw, 0);
    out << "; stranger's end " << fate;
    return out.str();
}

TEST_P(Lifetime, AnAgentThatReapsBehindTheLibraryGetsEchildAndSignalsNobody) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "a private pid namespace needs root";
    }
    struct Case {
        const char* name;
        bool ignoreSigchld;
        bool ownGroup;
    };
    const Case cases[] = {
        {"own waitpid", false, false},
        {"own waitpid, own group", false, true},
        {"SIGCHLD ignored", true, false},
        {"SIGCHLD ignored, own group", true, true},
    };
    const std::string expected = "WaitFor -1 " + std::to_string(ECHILD) + "; SendSignal -1 " +
                                 std::to_string(ECHILD) + "; Stop -1 " + std::to_string(ECHILD) +
                                 "; WaitFor -1 " + std::to_string(ECHILD) +
                                 "; stranger quiet; stranger's end 137";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int output[2];
        ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
        const pid_t outer = ::fork();
        ASSERT_GE(outer, 0);
        if (outer == 0) {
            if (::unshare(CLONE_NEWPID) != 0) {
                ::_exit(120);
            }
            const pid_t agent = ::fork();
            if (agent == 0) {
                const std::string result =
                    RunAgentThatReapsItself(How(), c.ignoreSigchld, c.ownGroup);
                [[maybe_unused]] const ssize_t n = ::write(output[1], result.data(), result.size());
                ::_exit(0);
            }
            int raw = 0;
            ::waitpid(agent, &raw, 0);
            ::_exit(WIFEXITED(raw) ? WEXITSTATUS(raw) : 121);
        }
        ::close(output[1]);
        std::string result;
        char buffer[256];
        ssize_t count;
        while ((count = ::read(output[0], buffer, sizeof buffer)) > 0) {
            result.append(buffer, static_cast<size_t>(count));
        }
        ::close(output[0]);
        int raw = 0;
        ASSERT_EQ(::waitpid(outer, &raw, 0), outer);
        if (WIFEXITED(raw) && WEXITSTATUS(raw) == 120) {
            GTEST_SKIP() << "no private pid namespace here";
        }
        EXPECT_EQ(result, expected);
    }
}

// ---- Launch errors -------------------------------------------------------------------

// Whether the launch returns only once the child has executed or failed: the shared-memory
// start, unless the fork path is chosen or the emulator turns the start into a fork.
bool AnswerExpectedAtOnce() {
    const char* engine = std::getenv("IFXLIB_LAUNCH");
    return !ifxtest::kUnderSanitizer && !ifxtest::UnderUserModeEmulation() &&
           (engine == nullptr || std::strcmp(engine, "fork") != 0);
}

TEST_P(Lifetime, LaunchErrorTellsWhichStepFailedAndWhy) {
    const ifxtest::TempDir dir;
    const std::string notExecutable = dir.write("plain", "#!/bin/sh\n");
    const std::string badInterpreter = dir.write("script", "#!/no/such/interpreter\n");
    const std::string noFormat = dir.write("text", "neither a script nor a program\n");
    ASSERT_EQ(::chmod(notExecutable.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(badInterpreter.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(noFormat.c_str(), 0755), 0);
    struct Case {
        const char* name;
        std::string path;
        std::optional<std::string> user;
        int error;
        int step;
    };
    const Case cases[] = {
        {"runs", ifxtest::ChildHelperPath(), std::nullopt, 0, 0},
        {"missing program", dir.file("missing"), std::nullopt, ENOENT, 79},
        {"not executable", notExecutable, std::nullopt, EACCES, 79},
        {"bad interpreter", badInterpreter, std::nullopt, ENOENT, 79},
        {"no executable format", noFormat, std::nullopt, ENOEXEC, 79},
        {"unknown user", ifxtest::ChildHelperPath(), "ifxtest-no-such-user", ENOENT, 81},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        args.path = c.path;
        args.user = c.user;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        int step = -1;
        // A failure is known once the shared-memory start returns; a success only once
        // the kernel has closed the executed program's close-on-exec descriptors, which
        // it does a moment after it lets the launching thread go.
        if (AnswerExpectedAtOnce() && c.error != 0) {
            EXPECT_EQ(child.LaunchError(&step), c.error);
        }
        child.CloseInput();
        // The exit codes stay as they were.
        EXPECT_EQ(child.WaitFor(kHangBound), c.step);
        step = -1;
        EXPECT_EQ(child.LaunchError(&step), c.error);
        EXPECT_EQ(step, c.step);
    }
}

TEST(LaunchErrorBeforeLaunch, TellsThatThereIsNoChild) {
    const IfxChildProcess child;
    errno = 0;
    EXPECT_EQ(child.LaunchError(nullptr), -1);
    EXPECT_EQ(errno, ECHILD);
}

// Root whose setgroups a seccomp filter refuses, in a launcher of its own: EPERM at the
// user step.
TEST_P(Lifetime, LaunchErrorReportsARefusedSetgroups) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "only root sets supplementary groups";
    }
    constexpr int kNoFilter = 120;
    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    const std::string how = ifxtest::LaunchName(How());
    const pid_t launcher = ::fork();
    ASSERT_GE(launcher, 0);
    if (launcher == 0) {
        const gid_t rootOnly[] = {0};
        if (::setgroups(1, rootOnly) != 0 || ifxtest::FailSystemCalls({SYS_setgroups}, EPERM)) {
            ::_exit(kNoFilter);
        }
        ::dup2(output[1], STDOUT_FILENO);
        ::execl(ifxtest::LaunchOncePath(), ifxtest::LaunchOncePath(), how.c_str(), "nobody",
                ifxtest::ChildHelperPath(), "--launch-error", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(output[1]);
    std::string line;
    char byte = 0;
    while (::read(output[0], &byte, 1) == 1) {
        line += byte;
    }
    ::close(output[0]);
    int raw = 0;
    ASSERT_EQ(::waitpid(launcher, &raw, 0), launcher);
    ASSERT_TRUE(WIFEXITED(raw));
    if (WEXITSTATUS(raw) == kNoFilter) {
        GTEST_SKIP() << "no seccomp filters here";
    }
    EXPECT_EQ(WEXITSTATUS(raw), 81);
    EXPECT_EQ(line, std::to_string(EPERM) + " 81\n");
}

// ---- Plain bytes ---------------------------------------------------------------------

TEST_P(Lifetime, BytesWithNulsRoundTripAndCloseInputEndsTheUtility) {
    Start({"--copy"});
    std::string data;
    for (int i = 0; i < 3000; ++i) {
        data += std::string("line\0", 5) + static_cast<char>(i % 256);
    }
    data += std::string(3, '\0');
    ASSERT_EQ(m_child.WriteBytes(data.data(), data.size()), static_cast<long>(data.size()));
    EXPECT_EQ(m_child.WriteBytes(nullptr, 0), 0);
    EXPECT_EQ(m_child.CloseInput(), 0);
    EXPECT_EQ(m_child.CloseInput(), 0);
    errno = 0;
    EXPECT_EQ(m_child.WriteBytes("x", 1), -1);
    EXPECT_EQ(errno, EBADF);
    std::string received;
    char buffer[1000];
    long count;
    while ((count = m_child.ReadBytes(buffer, sizeof buffer)) > 0) {
        received.append(buffer, static_cast<size_t>(count));
    }
    EXPECT_EQ(count, 0);
    EXPECT_EQ(received, data);
    EXPECT_EQ(m_child.WaitFor(kHangBound), 0);
}

// A signal whose handler was installed without SA_RESTART ends WriteBytes: the count that
// went, or -1 with EINTR when nothing did. The utility reads nothing meanwhile.
TEST_P(Lifetime, ASignalEndsWriteBytesWithTheCountSoFar) {
    if (!ifxtest::SystemCallNumbersAreOurs()) {
        GTEST_SKIP() << "cannot tell from /proc when the write blocks";
    }
    struct sigaction action {
    }, saved{};
    action.sa_handler = [](int) {};  // no SA_RESTART
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &saved), 0);
    struct Case {
        const char* name;
        bool pipeFullFirst;
        size_t length;  // 0: twice what the pipe holds, which a write cannot finish at once
    };
    const Case cases[] = {
        {"more than the pipe holds into an empty pipe", false, 0},
        {"one byte into a full pipe", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(child, How(), args), 0);
        ASSERT_EQ(ifxtest::Ask(child, "hold"), "holding");
        // 64 KiB on a machine with 4 KiB pages, 1 MiB with 64 KiB pages (ppc64).
        const int capacity = ::fcntl(child.m_phpipepw[1], F_GETPIPE_SZ);
        ASSERT_GT(capacity, 0);
        if (c.pipeFullFirst) {
            const std::string fill(static_cast<size_t>(capacity), 'f');
            ASSERT_EQ(child.WriteBytes(fill.data(), fill.size()), capacity);
        }
        const size_t length = c.length != 0 ? c.length : 2 * static_cast<size_t>(capacity);
        const std::string data(length, 'x');
        std::atomic<pid_t> writer{0};
        long written = 0;
        int error = 0;
        std::thread thread([&] {
            writer = static_cast<pid_t>(::syscall(SYS_gettid));
            errno = 0;
            written = child.WriteBytes(data.data(), data.size());
            error = errno;
        });
        while (writer == 0) {
            ifxtest::PauseBeforeLookingAgain();
        }
        ifxtest::WaitUntilBlockedIn(writer, SYS_write);
        ASSERT_EQ(::pthread_kill(thread.native_handle(), SIGUSR1), 0);
        thread.join();
        if (c.pipeFullFirst) {
            EXPECT_EQ(written, -1);
            EXPECT_EQ(error, EINTR);
        } else {
            EXPECT_GT(written, 0);
            EXPECT_LT(written, static_cast<long>(length));
        }
        EXPECT_EQ(child.Stop(kHangBound), kTerminated);
    }
    ::sigaction(SIGUSR1, &saved, nullptr);
}

TEST_P(Lifetime, ByteCallsReportErrorsThroughErrno) {
    Start({}, true);
    char buffer[16];
    errno = 0;
    EXPECT_EQ(m_child.ReadBytes(buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(m_child.ReadBytes(buffer, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(m_child.WriteBytes(nullptr, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    const char command[] = "exit 0";  // with its NUL, as the helper reads commands
    ASSERT_EQ(m_child.WriteBytes(command, sizeof command), static_cast<long>(sizeof command));
    ASSERT_EQ(m_child.WaitFor(kHangBound), 0);
    errno = 0;
    EXPECT_EQ(m_child.WriteBytes("x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    EXPECT_EQ(m_child.m_lasterror, 0);
    m_child.Finalize();
    EXPECT_EQ(m_child.ReadBytes(buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, EBADF);
}

}  // namespace
