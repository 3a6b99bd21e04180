// The marker file that holds a directly launched child before it does anything.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>

#include "childprocess/ChildTestSupport.h"
#include "support/LogFile.h"
#include "support/SleepMarkerLock.h"

namespace {

const char kMarker[] = "/tmp/clifxagentchild.sleep";
const char kTag[] = "IfxChildProcess::Initialize";

// Creates the marker with make and removes it however the test ends: left behind it
// would hold every direct launch on the machine.
class ScopedMarker {
  public:
    explicit ScopedMarker(const std::function<bool()>& make = PlainFile) {
        struct stat existing {};
        m_created = ::lstat(kMarker, &existing) != 0 && make();
    }
    ~ScopedMarker() { Remove(); }
    bool created() const { return m_created; }
    void Remove() {
        if (m_created) {
            if (::rmdir(kMarker) != 0) {
                ::unlink(kMarker);
            }
            m_created = false;
        }
    }

    static bool PlainFile() { return File(0644, ::getuid()); }
    static bool File(mode_t mode, uid_t owner) {
        const int fd = ::open(kMarker, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            return false;
        }
        const bool made = ::fchmod(fd, mode) == 0 && ::fchown(fd, owner, -1) == 0;
        ::close(fd);
        if (!made) {
            ::unlink(kMarker);
        }
        return made;
    }

  private:
    bool m_created = false;
};

// Every test here makes the marker, which another clone's test run would see: they take
// the machine-wide lock first.
class SleepMarker : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(m_lock.error(), ""); }

  private:
    ifxtest::SleepMarkerLock m_lock{ifxtest::SleepMarkerLock::Use::kCreatesTheMarker};
};

bool OutputArrivesWithin(int fd, int milliseconds) {
    struct pollfd entry {};
    entry.fd = fd;
    entry.events = POLLIN;
    return ::poll(&entry, 1, milliseconds) > 0;
}

TEST_F(SleepMarker, HoldsTheDirectChildUntilRemoved) {
    ScopedMarker marker;
    if (!marker.created()) {
        GTEST_SKIP() << kMarker << " exists already; someone else is using it";
    }
    IfxChildProcess child;
    ASSERT_EQ(ifxtest::LaunchChild(child, ifxtest::Launch::Direct, {}), 0)
        << "the parent does not wait for the held child";
    std::string command = "echo released";
    ASSERT_EQ(child.WriteBuf(command.data()), 0);
    // A negative observation can only be bounded: a free child answers in microseconds.
    EXPECT_FALSE(OutputArrivesWithin(child.m_phpipecw[0], 300)) << "the child was not held";

    marker.Remove();
    EXPECT_EQ(ifxtest::ReadLine(child), "released");
    child.Finalize();
    EXPECT_EQ(ifxtest::WaitForStatus(child, ifxtest::Launch::Direct), 0);
}

// Anyone can create a file in /tmp: only a regular file of root's or of the agent's own
// user, that nobody else may write, holds a child. Any other marker is ignored, with one
// log line.
TEST_F(SleepMarker, AMarkerAnyoneCouldHavePlantedHoldsNothing) {
    struct Case {
        const char* name;
        std::function<bool()> make;
        bool needsRoot;
    };
    const Case cases[] = {
        {"writable by others", [] { return ScopedMarker::File(0666, ::getuid()); }, false},
        {"writable by the group", [] { return ScopedMarker::File(0620, ::getuid()); }, false},
        {"symbolic link to a file of root's", [] { return ::symlink("/etc/passwd", kMarker) == 0; },
         false},
        {"directory", [] { return ::mkdir(kMarker, 0755) == 0; }, false},
        {"file of another user", [] { return ScopedMarker::File(0644, 65534); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::getuid() != 0) {
            continue;  // only root can give a file away
        }
        ifxtest::LogFile log;
        ScopedMarker marker(c.make);
        if (!marker.created()) {
            GTEST_SKIP() << kMarker << " exists already or cannot be made";
        }
        IfxChildProcess child;
        ASSERT_EQ(ifxtest::LaunchChild(child, ifxtest::Launch::Direct, {}), 0);
        std::string command = "echo free";
        ASSERT_EQ(child.WriteBuf(command.data()), 0);
        // Only a hang detector: a child that is not held answers in milliseconds.
        const bool answered = OutputArrivesWithin(child.m_phpipecw[0], 30000);
        marker.Remove();
        EXPECT_TRUE(answered) << "held by a marker anyone could have planted";
        EXPECT_EQ(ifxtest::ReadLine(child), "free");
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, ifxtest::Launch::Direct), 0);
        int ignored = 0;
        for (const ifxtest::LogLine& line : log.lines()) {
            ignored += line.tag == kTag &&
                       line.message.find("Child ignores /tmp/clifxagentchild.sleep") == 0;
        }
        EXPECT_EQ(ignored, 1) << log.text();
    }
}

TEST_F(SleepMarker, DoesNotHoldTheProcessServiceChild) {
    ScopedMarker marker;
    if (!marker.created()) {
        GTEST_SKIP() << kMarker << " exists already; someone else is using it";
    }
    IfxChildProcess child;
    ASSERT_EQ(ifxtest::LaunchChild(child, ifxtest::Launch::ProcessService, {}), 0);
    EXPECT_EQ(ifxtest::Ask(child, "echo free"), "free");
    child.Finalize();
    EXPECT_EQ(child.Wait(0), 0);
}

// A held child is a copy of the agent, handlers included; a signal that the agent
// catches must not run the agent's handler in the child but end the child as the
// program would be ended. The child is held so that it is surely still before exec.
TEST_F(SleepMarker, ASignalTheAgentCatchesEndsAHeldChild) {
    struct sigaction action {
    }, saved{};
    action.sa_handler = [](int) {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &saved), 0);
    ScopedMarker marker;
    if (!marker.created()) {
        ::sigaction(SIGUSR1, &saved, nullptr);
        GTEST_SKIP() << kMarker << " exists already; someone else is using it";
    }
    IfxChildProcess child;
    ASSERT_EQ(ifxtest::LaunchChild(child, ifxtest::Launch::Direct, {}), 0);
    ASSERT_EQ(::kill(child.m_childpid, SIGUSR1), 0);
    marker.Remove();
    child.Finalize();
    EXPECT_EQ(ifxtest::WaitForStatus(child, ifxtest::Launch::Direct), 128 + SIGUSR1);
    ::sigaction(SIGUSR1, &saved, nullptr);
}

// A child that never reached its program is no success, even though its report pipe
// ended: killed while the marker held it, its launch ended "before it was known to have
// run the program".
TEST_F(SleepMarker, LaunchErrorOfAChildStoppedWhileHeldIsNoSuccess) {
    ScopedMarker marker;
    if (!marker.created()) {
        GTEST_SKIP() << kMarker << " exists already; someone else is using it";
    }
    IfxChildProcess child;
    ASSERT_EQ(ifxtest::LaunchChild(child, ifxtest::Launch::Direct, {}), 0);
    errno = 0;
    EXPECT_EQ(child.LaunchError(nullptr), -1);
    EXPECT_EQ(errno, EINPROGRESS);
    EXPECT_EQ(child.Stop(200), 128 + SIGTERM);
    marker.Remove();
    int step = -1;
    errno = 0;
    EXPECT_EQ(child.LaunchError(&step), -1);
    EXPECT_EQ(errno, ECANCELED);
    EXPECT_EQ(step, -1);
}

}  // namespace
