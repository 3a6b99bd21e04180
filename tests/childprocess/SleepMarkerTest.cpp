// The marker file that holds a directly launched child before it does anything.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "childprocess/ChildTestSupport.h"

namespace {

const char kMarker[] = "/tmp/clifxagentchild.sleep";

// Removes the marker however the test ends: left behind it would hold every direct
// launch on the machine.
class ScopedMarker {
  public:
    ScopedMarker() {
        const int fd = ::open(kMarker, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        m_created = fd >= 0;
        if (m_created) {
            ::close(fd);
        }
    }
    ~ScopedMarker() { Remove(); }
    bool created() const { return m_created; }
    void Remove() {
        if (m_created) {
            ::unlink(kMarker);
            m_created = false;
        }
    }

  private:
    bool m_created = false;
};

bool OutputArrivesWithin(int fd, int milliseconds) {
    struct pollfd entry {};
    entry.fd = fd;
    entry.events = POLLIN;
    return ::poll(&entry, 1, milliseconds) > 0;
}

TEST(SleepMarker, HoldsTheDirectChildUntilRemoved) {
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

TEST(SleepMarker, DoesNotHoldTheProcessServiceChild) {
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

}  // namespace
