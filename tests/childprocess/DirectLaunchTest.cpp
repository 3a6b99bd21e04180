// What the child gets from either launch: its user, environment, arguments, descriptors
// and, when a step fails, its exit code.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "childprocess/ChildTestSupport.h"
#include "support/LogFile.h"
#include "support/SystemCallFailure.h"
#include "support/TempDir.h"

namespace {

using ifxtest::Launch;

const Launch kLaunches[] = {Launch::Direct, Launch::ProcessService};

std::string TagOf(Launch how) {
    return how == Launch::Direct ? "IfxChildProcess::Initialize" : " IfxChildProcess::PostFork";
}

TEST(DirectLaunch, RunsTheProgramAndLogsBothSides) {
    ifxtest::LogFile log(2);
    IfxChildProcess child;
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::Direct, {}), 0);
    EXPECT_GT(child.m_childpid, 0);
    EXPECT_EQ(child.m_pprocess, nullptr);
    EXPECT_NE(child.m_pevent, nullptr) << "Initialize makes an event when given none";
    EXPECT_EQ(ifxtest::Ask(child, "echo hello"), "hello");
    EXPECT_EQ(ifxtest::Ask(child, "stderr to the same pipe"), "to the same pipe");
    child.Finalize();
    EXPECT_EQ(ifxtest::WaitForStatus(child, Launch::Direct), 0);

    const std::string tag = "IfxChildProcess::Initialize";
    EXPECT_TRUE(log.has(tag, "enter"));
    EXPECT_TRUE(log.has(tag, "Parent: child pid= " + std::to_string(child.m_childpid)));
    EXPECT_TRUE(log.has(tag, "Child: child pid(expected 0)= 0"));
    EXPECT_TRUE(log.has(tag, std::string("Child exec ") + ifxtest::ChildHelperPath()));
}

TEST(DirectLaunch, TraceLinesNeedLevel2) {
    ifxtest::LogFile log(1);
    IfxChildProcess child;
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::Direct, {}), 0);
    child.Finalize();
    EXPECT_EQ(ifxtest::WaitForStatus(child, Launch::Direct), 0);
    EXPECT_TRUE(log.has("IfxChildProcess::Initialize", "enter"));
    EXPECT_FALSE(log.hasContaining("IfxChildProcess::Initialize", "child pid"));
    EXPECT_FALSE(log.hasContaining("IfxChildProcess::Initialize", "Child exec"));
}

// Refused like InitializeLinux refuses it, rather than forking a child that executes
// nothing and exits 79.
TEST(DirectLaunch, ANullPathIsRefusedBeforeTheFork) {
    ifxtest::LogFile log;
    const std::set<int> before = ifxtest::OpenDescriptors();
    {
        IfxChildProcess child;
        EXPECT_EQ(child.Initialize(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false,
                                   false, false, nullptr),
                  -1);
        EXPECT_EQ(child.m_lasterror, EINVAL);
        EXPECT_EQ(child.m_childpid, 0);
        EXPECT_TRUE(log.has("IfxChildProcess::Initialize", "no program to execute: errno=22"));
    }
    EXPECT_EQ(ifxtest::OpenDescriptors(), before) << "no pipe was made";
}

TEST(ChildLaunch, NullArgvGivesThePathOrNothing) {
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        IfxChildProcess child;
        ASSERT_EQ(ifxtest::LaunchChild(child, how, {}), 0);
        const std::string answer = ifxtest::Ask(child, "args");
        if (how == Launch::Direct) {
            EXPECT_EQ(answer, std::string("argc=1|") + ifxtest::ChildHelperPath());
        } else {
            // An empty vector; Linux hands the program one empty argument in its place.
            EXPECT_TRUE(answer == "argc=0" || answer == "argc=1|") << answer;
        }
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
    }
}

TEST(ChildLaunch, PassesTheArgumentVector) {
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.argv = std::vector<std::string>{"helper", "two words", ""};
        ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
        EXPECT_EQ(ifxtest::Ask(child, "args"), "argc=3|helper|two words|");
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
    }
}

TEST(ChildLaunch, SetsEnvironmentPairsUntilTheShorterListEnds) {
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> names, values;
        const char* expectedA;
        const char* expectedB;
        const char* expectedC;
    };
    const Case cases[] = {
        {"three names, two values", std::vector<std::string>{"IFXT_A", "IFXT_B", "IFXT_C"},
         std::vector<std::string>{"1", "two words"}, "1", "two words", "<unset>"},
        {"two names, three values", std::vector<std::string>{"IFXT_A", "IFXT_B"},
         std::vector<std::string>{"x", "", "z"}, "x", "", "<unset>"},
        {"no names", std::vector<std::string>{}, std::vector<std::string>{"1"}, "<unset>",
         "<unset>", "<unset>"},
        {"null values", std::vector<std::string>{"IFXT_A"}, std::nullopt, "<unset>", "<unset>",
         "<unset>"},
    };
    for (Launch how : kLaunches) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(ifxtest::LaunchName(how)) + ": " + c.name);
            IfxChildProcess child;
            ifxtest::LaunchArgs args;
            args.envNames = c.names;
            args.envValues = c.values;
            ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
            EXPECT_EQ(ifxtest::Ask(child, "env IFXT_A"), c.expectedA);
            EXPECT_EQ(ifxtest::Ask(child, "env IFXT_B"), c.expectedB);
            EXPECT_EQ(ifxtest::Ask(child, "env IFXT_C"), c.expectedC);
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
        }
    }
}

TEST(ChildLaunch, TheEnvironmentIsLoggedInTheChild) {
    ifxtest::LogFile log(2);
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.envNames = std::vector<std::string>{"IFXT_LOGGED"};
        args.envValues = std::vector<std::string>{"v"};
        ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
        EXPECT_TRUE(log.has(TagOf(how), "Child SETENVIRONMENTVARIABLE(0): IFXT_LOGGED=v"));
    }
}

// Descriptors the parent holds, inheritable or not, and one above a soft limit lowered
// after it was opened: the program must see none of them.
TEST(ChildLaunch, TheProgramSeesOnlyItsStandardDescriptors) {
    std::vector<int> held;
    for (int i = 0; i < 40; ++i) {
        held.push_back(::open("/dev/null", i % 2 == 0 ? O_RDONLY : O_RDONLY | O_CLOEXEC));
    }
    struct rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int high = ::fcntl(held[0], F_DUPFD, static_cast<int>(limit.rlim_cur) - 10);
    ASSERT_GE(high, 0);
    held.push_back(high);
    struct rlimit lowered = limit;
    lowered.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        IfxChildProcess child;
        ASSERT_EQ(ifxtest::LaunchChild(child, how, {}), 0);
        EXPECT_EQ(ifxtest::Ask(child, "fds"), "fds=0,1,2");
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
    }
    ::setrlimit(RLIMIT_NOFILE, &limit);
    for (int fd : held) {
        ::close(fd);
    }
}

// A child that cannot reach its program tells why only through its exit code.
TEST(ChildLaunch, FailingChildStepsEndWithTheirExitCode) {
    ifxtest::TempDir dir;
    const std::string notExecutable = dir.write("not-executable", "#!/bin/sh\n");
    struct Case {
        const char* name;
        Launch how;
        std::string path;
        std::optional<std::string> user;
        int status;
        std::string message;
    };
    const std::string helper = ifxtest::ChildHelperPath();
    const Case cases[] = {
        {"missing program", Launch::Direct, dir.file("missing"), std::nullopt, 79,
         "Child exec failed, errno 2"},
        {"missing program", Launch::ProcessService, dir.file("missing"), std::nullopt, 79,
         "Child exec failed, errno 2"},
        {"not executable", Launch::Direct, notExecutable, std::nullopt, 79,
         "Child exec failed, errno 13"},
        {"not executable", Launch::ProcessService, notExecutable, std::nullopt, 79,
         "Child exec failed, errno 13"},
        {"unknown user", Launch::Direct, helper, "ifxtest-no-such-user", 81,
         "Child getpwnam failed, errno 2"},
        {"unknown user", Launch::ProcessService, helper, "ifxtest-no-such-user", 81,
         "Child getpwnam failed, errno 2"},
        {"empty user", Launch::ProcessService, helper, "", 81, "Child getpwnam failed, errno 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(ifxtest::LaunchName(c.how)) + ": " + c.name);
        ifxtest::LogFile log;
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.path = c.path;
        args.user = c.user;
        ASSERT_EQ(ifxtest::LaunchChild(child, c.how, args), 0) << "the parent sees a child";
        EXPECT_EQ(ifxtest::WaitForStatus(child, c.how), c.status);
        EXPECT_TRUE(log.has(TagOf(c.how), c.message)) << log.text();
        char buffer[64];
        EXPECT_EQ(child.ReadBuf(buffer, sizeof buffer), -1) << "no output: " << buffer;
        EXPECT_EQ(child.m_lasterror, EPIPE);
        child.Finalize();
    }
}

// The launch ignores SIGPIPE in the agent; the program must not inherit that (a pipeline
// inside it would report "Broken pipe"). A signal the agent ignores for its own reasons
// stays ignored, and one it catches arrives at the program as the default.
TEST(ChildLaunch, TheProgramStartsWithDefaultSignalsButTheOnesTheAgentIgnores) {
    struct sigaction ignore {
    }, catchIt{}, savedUsr1{}, savedUsr2{};
    ignore.sa_handler = SIG_IGN;
    catchIt.sa_handler = [](int) {};
    ASSERT_EQ(::sigaction(SIGUSR2, &ignore, &savedUsr2), 0);
    ASSERT_EQ(::sigaction(SIGUSR1, &catchIt, &savedUsr1), 0);
    struct Case {
        int signal;
        const char* disposition;
    };
    const Case cases[] = {{SIGPIPE, "default"}, {SIGUSR2, "ignored"}, {SIGUSR1, "default"}};
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        IfxChildProcess child;
        ASSERT_EQ(ifxtest::LaunchChild(child, how, {}), 0);
        for (const Case& c : cases) {
            EXPECT_EQ(ifxtest::Ask(child, "signal " + std::to_string(c.signal)), c.disposition)
                << "signal " << c.signal;
        }
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
    }
    ::sigaction(SIGUSR1, &savedUsr1, nullptr);
    ::sigaction(SIGUSR2, &savedUsr2, nullptr);
    struct sigaction pipe {};
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &pipe), 0);
    EXPECT_EQ(pipe.sa_handler, SIG_IGN) << "the agent keeps SIGPIPE ignored";
}

// Once the child has handed its standard streams to the program, a line of its own in
// them would read as the program's output. Its lines go to the log file, kept open until
// exec even where the child's new user could not open it again, or else to a copy of the
// agent's standard error, never to the pipe.
TEST(ChildLaunch, AChildsLogLinesNeverReachTheProgramsOutput) {
    enum LogFileKind { kNone, kCannotBeOpened, kOfRoots };
    struct Case {
        const char* name;
        LogFileKind logFile;
        bool asRootForNobody;  // the child switches to nobody
    };
    const Case cases[] = {
        {"no log file", kNone, false},
        {"log file cannot be opened", kCannotBeOpened, false},
        {"log file of root's, 0644, child as nobody", kOfRoots, true},
    };
    // Exec fails for every user alike, after the streams are connected.
    const std::string missing = "/nonexistent/ifxtest-missing-program";
    for (const Case& c : cases) {
        if (c.asRootForNobody && ::getuid() != 0) {
            continue;  // switching users needs root
        }
        for (Launch how : kLaunches) {
            SCOPED_TRACE(std::string(ifxtest::LaunchName(how)) + ": " + c.name);
            ifxtest::LogFile log;
            std::optional<ifxtest::ScopedEnv> logFile;
            if (c.logFile == kOfRoots) {
                ASSERT_EQ(::chmod(log.path().c_str(), 0644), 0);
            } else if (c.logFile == kCannotBeOpened) {
                logFile.emplace("JX_LOG_FILE", log.path() + ".d/ifx.log");
            } else {
                logFile.emplace("JX_LOG_FILE", std::nullopt);
            }
            testing::internal::CaptureStderr();
            IfxChildProcess child;
            ifxtest::LaunchArgs args;
            args.path = missing;
            if (c.asRootForNobody) {
                args.user = "nobody";
            }
            const int launched = ifxtest::LaunchChild(child, how, args);
            const int status = launched == 0 ? ifxtest::WaitForStatus(child, how) : -1;
            char buffer[256];
            const int read = child.ReadBuf(buffer, sizeof buffer);
            const std::string agentStderr = testing::internal::GetCapturedStderr();
            ASSERT_EQ(launched, 0);
            EXPECT_EQ(status, 79);
            EXPECT_EQ(read, -1) << "the program's output carries: " << buffer;
            EXPECT_EQ(child.m_lasterror, EPIPE);
            const std::string line = "[" + TagOf(how) + "] Child exec failed, errno 2\n";
            if (c.logFile == kOfRoots) {
                EXPECT_NE(log.text().find(line), std::string::npos) << log.text();
            } else {
                EXPECT_NE(agentStderr.find(line), std::string::npos) << agentStderr;
            }
            child.Finalize();
        }
    }
}

// A child that cannot exec must not flush the stdio buffers it copied from us: the
// parent's pending output would be written twice.
TEST(ChildLaunch, AFailingChildLeavesOurStdioBuffersAlone) {
    ifxtest::TempDir dir;
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        const std::string path = dir.file(std::string("pending-") + ifxtest::LaunchName(how));
        FILE* pending = std::fopen(path.c_str(), "we");
        ASSERT_NE(pending, nullptr);
        std::fputs("written once\n", pending);  // stays in the buffer until fclose
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.path = dir.file("missing");
        ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 79);
        std::fclose(pending);
        EXPECT_EQ(ifxtest::readFile(path), "written once\n");
        child.Finalize();
    }
}

TEST(ChildLaunch, WithoutAUserTheDirectChildKeepsOurs) {
    IfxChildProcess child;
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::Direct, {}), 0);
    EXPECT_EQ(ifxtest::Ask(child, "ids"), ifxtest::OwnIds());
    child.Finalize();
    EXPECT_EQ(ifxtest::WaitForStatus(child, Launch::Direct), 0);
}

TEST(ChildLaunch, SwitchesToTheUserWithExactlyItsGroups) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    const std::string helper = ifxtest::ChildHelperPathForAnyUser();
    ASSERT_TRUE(ifxtest::ExecutableBy("nobody", helper)) << helper;
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        ifxtest::LogFile log;
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.path = helper;
        args.user = "nobody";
        ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
        EXPECT_EQ(ifxtest::Ask(child, "ids"), ifxtest::ExpectedIdsOf("nobody"));
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
        EXPECT_TRUE(log.has(TagOf(how), "Child change user=nobody, gid=65534, uid=65534"))
            << log.text();
    }
}

}  // namespace

namespace {

// Runs ifxtest_launch_once as root without CAP_SETGID, as `setpriv --inh-caps=-setgid
// --bounding-set=-setgid` would: a program root executes gets the capabilities of the
// bounding and inheritable sets, so the capability goes from both. Returns the wait
// status.
int launchOnceWithoutSetgid(Launch how) {
    std::string words[] = {ifxtest::LaunchOncePath(), ifxtest::LaunchName(how), "root",
                           ifxtest::ChildHelperPath()};
    char* argv[] = {words[0].data(), words[1].data(), words[2].data(), words[3].data(), nullptr};
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::prctl(PR_CAPBSET_DROP, CAP_SETGID, 0, 0, 0) != 0) {
            ::_exit(120);
        }
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (::syscall(SYS_capget, &header, data) != 0) {
            ::_exit(121);
        }
        data[CAP_TO_INDEX(CAP_SETGID)].inheritable &= ~CAP_TO_MASK(CAP_SETGID);
        if (::syscall(SYS_capset, &header, data) != 0) {
            ::_exit(122);
        }
        ::execv(argv[0], argv);
        ::_exit(123);
    }
    int raw = -1;
    while (pid > 0 && ::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return raw;
}

// As root without CAP_SETGID, setting the groups fails with EPERM: the direct launch
// gives up (81), the service launch logs it, goes on, and runs the program as root, whose
// group and user it may keep without the capability.
TEST(ChildLaunch, InitgroupsFailingWithEpermAsRoot) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "the case is root's";
    }
    struct Case {
        Launch how;
        int status;
        bool ignored;  // "ignoring EPERM error from initgroups" logged
    };
    const Case cases[] = {{Launch::Direct, 81, false}, {Launch::ProcessService, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(ifxtest::LaunchName(c.how));
        ifxtest::LogFile log;
        const int raw = launchOnceWithoutSetgid(c.how);
        ASSERT_TRUE(WIFEXITED(raw)) << raw;
        EXPECT_EQ(WEXITSTATUS(raw), c.status) << log.text();
        EXPECT_TRUE(log.has(TagOf(c.how), "initgroups() failed, errno=1")) << log.text();
        EXPECT_EQ(log.has(TagOf(c.how), "ignoring EPERM error from initgroups"), c.ignored);
    }
}

// Runs in a process of its own, as nobody: RLIMIT_NPROC binds only a user without the
// privilege to exceed it, and a limit of 0 makes every start of a child fail with EAGAIN,
// a failure a fork would meet just the same.
void LaunchWithoutRoomForAProcess() {
    const struct passwd* nobody = ::getpwnam("nobody");
    const struct rlimit none { 0, 0 };
    if (nobody == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
        ::setuid(nobody->pw_uid) != 0 || ::setrlimit(RLIMIT_NPROC, &none) != 0) {
        std::fprintf(stderr, "cannot become nobody without room for a process\n");
        ::_exit(2);
    }
    std::string results;
    for (Launch how : kLaunches) {
        IfxChildProcess child;
        const int launched = ifxtest::LaunchChild(child, how, {});
        results += std::string(ifxtest::LaunchName(how)) + " " + std::to_string(launched) + " " +
                   std::to_string(child.m_lasterror) + " " + std::to_string(child.m_childpid) + ";";
    }
    std::fprintf(stderr, "%s\n", results.c_str());
    std::fflush(stderr);
    ::_exit(0);
}

// Initialize keeps the failed fork's -1 in m_childpid, InitializeLinux only a started
// child's id; both report EAGAIN and neither falls back to another way of starting.
TEST(DirectLaunch, AFailedStartLeavesMinusOneInTheChildPid) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "switching to nobody needs root";
    }
    if (ifxtest::UnderUserModeEmulation()) {
        GTEST_SKIP() << "the death test executes its program again, which the emulator cannot";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string expected = "Initialize -1 " + std::to_string(EAGAIN) +
                                 " -1;InitializeLinux -1 " + std::to_string(EAGAIN) + " 0;";
    EXPECT_EXIT(LaunchWithoutRoomForAProcess(), ::testing::ExitedWithCode(0), expected);
}

}  // namespace

namespace {

// A user namespace that denies setgroups, while setgid and setuid work: only setgroups
// fails, with EPERM. The service launch may then let the program keep the agent's groups
// only when they are all among the user's own (none at all included); with root's group 0
// among them it gives up as the direct launch does.
TEST(ChildLaunch, SetgroupsRefusedKeepsNoGroupTheUserLacks) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "the case is root's";
    }
    struct Case {
        Launch how;
        std::vector<gid_t> agentGroups;
        int status;
        bool ignored;  // "ignoring EPERM error from initgroups" logged
    };
    const Case cases[] = {
        {Launch::ProcessService, {0}, 81, false}, {Launch::ProcessService, {0, 65534}, 81, false},
        {Launch::ProcessService, {}, 0, true},    {Launch::ProcessService, {65534}, 0, true},
        {Launch::Direct, {}, 81, false},
    };
    constexpr int kNoFilter = 120;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(ifxtest::LaunchName(c.how)) + " with " +
                     std::to_string(c.agentGroups.size()) + " groups");
        ifxtest::LogFile log;
        const pid_t agent = ::fork();
        ASSERT_GE(agent, 0);
        if (agent == 0) {
            if (::setgroups(c.agentGroups.size(), c.agentGroups.data()) != 0 ||
                ifxtest::FailSystemCalls({SYS_setgroups}, EPERM) != 0) {
                ::_exit(kNoFilter);
            }
            const std::string how = ifxtest::LaunchName(c.how);
            ::execl(ifxtest::LaunchOncePath(), ifxtest::LaunchOncePath(), how.c_str(), "nobody",
                    ifxtest::ChildHelperPath(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int raw = 0;
        ASSERT_EQ(::waitpid(agent, &raw, 0), agent);
        ASSERT_TRUE(WIFEXITED(raw));
        if (WEXITSTATUS(raw) == kNoFilter) {
            GTEST_SKIP() << "no seccomp filters here";
        }
        EXPECT_EQ(WEXITSTATUS(raw), c.status) << log.text();
        EXPECT_TRUE(log.has(TagOf(c.how), "initgroups() failed, errno=1")) << log.text();
        EXPECT_EQ(log.has(TagOf(c.how), "ignoring EPERM error from initgroups"), c.ignored);
    }
}

}  // namespace
