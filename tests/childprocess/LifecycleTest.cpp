// Construction, Finalize and destruction: who closes which descriptor, and when.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "childprocess/ChildTestSupport.h"
#include "support/LogFile.h"

namespace {

using ifxtest::Launch;

const Launch kLaunches[] = {Launch::Direct, Launch::ProcessService};

TEST(IfxChildProcessLifecycle, UnlaunchedObjectClosesNothingAndLogsNothing) {
    ifxtest::LogFile log(12);
    const std::set<int> before = ifxtest::OpenDescriptors();
    {
        IfxChildProcess child;
        EXPECT_EQ(child.Finalize(), 0);
        EXPECT_EQ(child.m_pprocess, nullptr);
        EXPECT_EQ(child.m_pthread, nullptr);
        EXPECT_EQ(child.m_phpipepw[0], 0);
        EXPECT_EQ(child.m_phpipecw[1], 0);
    }
    EXPECT_EQ(ifxtest::OpenDescriptors(), before);
    EXPECT_EQ(log.text(), "");
}

// After a launch the parent holds two ends; Finalize closes exactly those, once, and the
// child sees the end of its input.
TEST(IfxChildProcessLifecycle, FinalizeClosesTheParentEndsExactlyOnce) {
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        IfxChildProcess child;
        ASSERT_EQ(ifxtest::LaunchChild(child, how, {}), 0);
        EXPECT_FALSE(ifxtest::DescriptorIsOpen(child.m_phpipepw[0]));
        EXPECT_FALSE(ifxtest::DescriptorIsOpen(child.m_phpipecw[1]));
        const int writeEnd = child.m_phpipepw[1];
        const int readEnd = child.m_phpipecw[0];

        EXPECT_EQ(child.Finalize(), 0);
        EXPECT_FALSE(ifxtest::DescriptorIsOpen(writeEnd));
        EXPECT_FALSE(ifxtest::DescriptorIsOpen(readEnd));
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0) << "the helper exits 0 at end of input";

        // The numbers are free again and get reused; a second Finalize must not take them.
        const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_TRUE(reused == writeEnd || reused == readEnd) << reused;
        EXPECT_EQ(child.Finalize(), 0);
        EXPECT_TRUE(ifxtest::DescriptorIsOpen(reused));
        ::close(reused);
        EXPECT_EQ(child.m_phpipepw[1], writeEnd) << "the members keep their numbers";
    }
}

TEST(IfxChildProcessLifecycle, LaunchesLeaveNoDescriptorBehind) {
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        EvEvent event;
        const std::set<int> before = ifxtest::OpenDescriptors();
        for (int round = 0; round < 3; ++round) {
            IfxChildProcess child;
            ifxtest::LaunchArgs args;
            args.event = &event;
            ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
        }
        EXPECT_EQ(ifxtest::OpenDescriptors(), before);
    }
}

TEST(IfxChildProcessLifecycle, FailedLaunchBeforeThePipesLeavesStandardDescriptorsAlone) {
    const std::set<int> before = ifxtest::OpenDescriptors();
    IfxChildProcess child;
    EXPECT_EQ(child.InitializeLinux(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false,
                                    false, false, nullptr),
              -1);
    EXPECT_EQ(child.m_lasterror, EINVAL);
    EXPECT_EQ(child.Finalize(), 0);
    EXPECT_EQ(child.Finalize(), 0);
    for (int fd : {0, 1, 2}) {
        EXPECT_TRUE(ifxtest::DescriptorIsOpen(fd)) << fd;
    }
    EXPECT_EQ(ifxtest::OpenDescriptors(), before);
}

// Lowers the soft descriptor limit for the length of a scope.
class ScopedDescriptorLimit {
  public:
    explicit ScopedDescriptorLimit(rlim_t soft) {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        struct rlimit lowered = m_saved;
        lowered.rlim_cur = soft;
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    }
    ~ScopedDescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }

  private:
    struct rlimit m_saved {};
};

// The four lowest free numbers are what the two pipes would get; a limit at the fourth
// lets the first pipe through and stops the second.
int FourthLowestFreeDescriptor() {
    const std::set<int> open = ifxtest::OpenDescriptors();
    int found = 0;
    for (int fd = 0;; ++fd) {
        if (open.count(fd) == 0 && ++found == 4) {
            return fd;
        }
    }
}

TEST(IfxChildProcessLifecycle, FinalizeClosesThePipeOfAFailedLaunch) {
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        ifxtest::LogFile log;
        EvEvent event;
        const std::set<int> before = ifxtest::OpenDescriptors();
        IfxChildProcess child;
        {
            ScopedDescriptorLimit limit(static_cast<rlim_t>(FourthLowestFreeDescriptor()));
            ifxtest::LaunchArgs args;
            args.event = &event;
            EXPECT_EQ(ifxtest::LaunchChild(child, how, args), -1);
        }
        EXPECT_EQ(child.m_lasterror, EMFILE);
        EXPECT_TRUE(log.has(std::string("IfxChildProcess::") + ifxtest::LaunchName(how),
                            "pipe call failed when creating m_phpipepw : errno=24"));
        EXPECT_TRUE(ifxtest::DescriptorIsOpen(child.m_phpipecw[0]));
        EXPECT_TRUE(ifxtest::DescriptorIsOpen(child.m_phpipecw[1]));
        EXPECT_EQ(child.m_pprocess, nullptr) << "no process object before the pipes exist";
        child.Finalize();
        EXPECT_EQ(ifxtest::OpenDescriptors(), before);
    }
}

// A process started with its standard input closed: "/dev/null" takes the number, so
// no pipe end does.
TEST(IfxChildProcessLifecycle, ClosedStandardInputIsFilledWithDevNull) {
    const int savedInput = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 10);
    ASSERT_GE(savedInput, 0);
    ASSERT_EQ(::close(STDIN_FILENO), 0);
    IfxChildProcess child;
    const int result = ifxtest::LaunchChild(child, Launch::ProcessService, {});
    struct stat input {
    }, devNull{};
    const bool inputOpen = ::fstat(STDIN_FILENO, &input) == 0;
    const bool inputInheritable = ::fcntl(STDIN_FILENO, F_GETFD) == 0;
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);

    ASSERT_EQ(result, 0);
    ASSERT_EQ(::stat("/dev/null", &devNull), 0);
    EXPECT_TRUE(inputOpen);
    EXPECT_EQ(input.st_rdev, devNull.st_rdev);
    EXPECT_TRUE(inputInheritable) << "a standard descriptor must survive exec";
    EXPECT_GT(child.m_phpipepw[1], 2);
    EXPECT_GT(child.m_phpipecw[0], 2);
    EXPECT_EQ(ifxtest::Ask(child, "echo still talking"), "still talking");
    child.Finalize();
    EXPECT_EQ(child.Wait(0), 0);
}

// An agent detached from its terminal, all three standard descriptors closed, logging to a
// file: the log must not take one of those numbers, or the launch would copy the log where
// "/dev/null" belongs and the number would be free again once the log is closed. The
// direct launch makes its own logging context, the service launch gets the agent's.
TEST(IfxChildProcessLifecycle, ClosedStandardDescriptorsBecomeDevNullAndStaySo) {
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        ifxtest::LogFile log;
        const pid_t agent = ::fork();
        ASSERT_GE(agent, 0);
        if (agent == 0) {
            for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
                ::close(fd);
            }
            {
                auto event = how == Launch::ProcessService ? std::make_unique<EvEvent>() : nullptr;
                IfxChildProcess child;
                ifxtest::LaunchArgs args;
                args.event = event.get();
                if (ifxtest::LaunchChild(child, how, args) != 0) {
                    ::_exit(10);
                }
                child.Finalize();
                if (ifxtest::WaitForStatus(child, how) != 0) {
                    ::_exit(11);
                }
            }
            struct stat devNull {};
            ::stat("/dev/null", &devNull);
            for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
                struct stat standard {};
                if (::fstat(fd, &standard) != 0 || standard.st_rdev != devNull.st_rdev ||
                    !S_ISCHR(standard.st_mode)) {
                    ::_exit(1 + fd);
                }
            }
            ::_exit(0);
        }
        int raw = 0;
        ASSERT_EQ(::waitpid(agent, &raw, 0), agent);
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 0) << "1 to 3: descriptor 0 to 2 is not /dev/null afterwards";
    }
}

// The wait thread logs after it sets its last flag; destroying the object at once must
// wait for it rather than pull the object from under it.
TEST(IfxChildProcessLifecycle, DestructorWaitsForTheWaitThread) {
    ifxtest::LogFile log;
    EvEvent event;
    auto child = std::make_unique<IfxChildProcess>();
    ifxtest::LaunchArgs args;
    args.event = &event;
    ASSERT_EQ(ifxtest::LaunchChild(*child, Launch::ProcessService, args), 0);
    ASSERT_EQ(child->BeginWait(), 0);
    char command[] = "exit 3";
    ASSERT_EQ(child->WriteBuf(command), 0);
    child->Finalize();
    child.reset();
    EXPECT_TRUE(log.has("IfxChildProcess::WaitThread", "Wait failed; LastErr=3"));
    EXPECT_TRUE(log.has("IfxChildProcess::~IfxChildProcess", "enter"));
}

// An object destroyed without Finalize, its child waiting for the end of its input and
// (after the service launch) a wait thread waiting for the child: the destructor must
// close the ends it holds, or it would join a thread that never ends.
TEST(IfxChildProcessLifecycle, DestructionWithoutFinalizeNeitherHangsNorLeaks) {
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        ifxtest::LogFile log;
        EvEvent event;
        const std::set<int> before = ifxtest::OpenDescriptors();
        auto child = std::make_unique<IfxChildProcess>();
        ifxtest::LaunchArgs args;
        args.event = &event;
        ASSERT_EQ(ifxtest::LaunchChild(*child, how, args), 0);
        const pid_t pid = child->m_childpid;
        if (how == Launch::ProcessService) {
            ASSERT_EQ(child->BeginWait(), 0);
        }
        child.reset();
        EXPECT_EQ(ifxtest::OpenDescriptors(), before);
        if (how == Launch::ProcessService) {
            EXPECT_TRUE(log.has("IfxChildProcess::Wait",
                                "WaitForProcessToEnd - JX_IFX_OK; return Code [0]"))
                << "the child saw its input end: " << log.text();
            EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1) << "reaped by the wait thread";
        } else {
            int raw = 0;
            ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
            EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << "the child saw its input end";
        }
    }
}

// Each object launches once. A second launch, of either kind, is refused before it
// touches anything: the first child keeps its pipes and its process object, and no
// descriptor is made or lost.
TEST(IfxChildProcessLifecycle, ASecondLaunchIsRefusedAndLeavesTheFirstAlone) {
    for (Launch first : kLaunches) {
        for (Launch second : kLaunches) {
            SCOPED_TRACE(std::string(ifxtest::LaunchName(first)) + " then " +
                         ifxtest::LaunchName(second));
            ifxtest::LogFile log;
            EvEvent event;
            EvEvent otherEvent;
            IfxChildProcess child;
            ifxtest::LaunchArgs args;
            args.event = &event;
            ASSERT_EQ(ifxtest::LaunchChild(child, first, args), 0);
            const pid_t pid = child.m_childpid;
            JxProcess* process = child.m_pprocess;
            const int writeEnd = child.m_phpipepw[1];
            const int readEnd = child.m_phpipecw[0];
            const std::set<int> before = ifxtest::OpenDescriptors();

            ifxtest::LaunchArgs again;
            again.event = &otherEvent;
            again.nonBlocking = true;
            EXPECT_EQ(ifxtest::LaunchChild(child, second, again), -1);
            EXPECT_EQ(child.m_lasterror, EBUSY);
            EXPECT_TRUE(log.has(std::string("IfxChildProcess::") + ifxtest::LaunchName(second),
                                "launch refused, the object has launched before: errno=16"));
            EXPECT_EQ(ifxtest::OpenDescriptors(), before);
            EXPECT_EQ(child.m_childpid, pid);
            EXPECT_EQ(child.m_pprocess, process);
            EXPECT_EQ(child.m_phpipepw[1], writeEnd);
            EXPECT_EQ(child.m_phpipecw[0], readEnd);
            EXPECT_EQ(child.m_pevent, &event);
            EXPECT_FALSE(child.m_bnonblocking);
            EXPECT_EQ(ifxtest::Ask(child, "echo first"), "first");
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, first), 0);
        }
    }
}

// A launch refused for its arguments made nothing, so the object can still launch.
TEST(IfxChildProcessLifecycle, ALaunchRefusedForItsArgumentsLeavesTheObjectUsable) {
    IfxChildProcess child;
    EXPECT_EQ(child.InitializeLinux(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false,
                                    false, false, nullptr),
              -1);
    EXPECT_EQ(child.m_lasterror, EINVAL);
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, {}), 0);
    EXPECT_EQ(ifxtest::Ask(child, "echo usable"), "usable");
    child.Finalize();
    EXPECT_EQ(child.Wait(0), 0);
}

}  // namespace
