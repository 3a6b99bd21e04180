// Wait and the wait thread: the child's status and the flags agent code polls.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <csignal>

#include "childprocess/ChildTestSupport.h"
#include "support/LogFile.h"

namespace {

using ifxtest::Launch;

const char kWaitTag[] = "IfxChildProcess::Wait";
const char kThreadTag[] = "IfxChildProcess::WaitThread";

class WaitForChild : public ::testing::Test {
  protected:
    void Start(Launch how = Launch::ProcessService) {
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        ASSERT_EQ(ifxtest::LaunchChild(m_child, how, args), 0);
    }
    void Send(const std::string& command) {
        std::string copy = command;
        ASSERT_EQ(m_child.WriteBuf(copy.data()), 0);
    }
    // The thread's last store and log line are behind its end.
    void JoinWaitThread() { ASSERT_EQ(m_child.m_pthread->join(), 0); }

    ifxtest::LogFile m_log{2};
    EvEvent m_event;
    IfxChildProcess m_child;
};

TEST_F(WaitForChild, WaitThreadMarksASuccessfulEnd) {
    Start();
    ASSERT_EQ(m_child.BeginWait(), 0);
    m_child.Finalize();  // end of input: the helper exits 0
    JoinWaitThread();
    EXPECT_TRUE(m_child.m_bwaitstarted);
    EXPECT_TRUE(m_child.m_bwaitdone);
    EXPECT_FALSE(m_child.m_bwaitfailed);
    EXPECT_EQ(m_child.m_lasterror, 0);
    EXPECT_EQ(m_child.m_exitcode, 0);
    EXPECT_TRUE(m_log.has(kThreadTag, "WaitThread complete."));
    EXPECT_TRUE(m_log.has(kWaitTag, "waiting for pid " + std::to_string(m_child.m_childpid)));
    EXPECT_TRUE(m_log.has(kWaitTag, "WaitForProcessToEnd - JX_IFX_OK; return Code [0]"));
    EXPECT_FALSE(m_log.hasContaining(kWaitTag, "Child exited with error"));
}

TEST_F(WaitForChild, WaitThreadMarksAFailedEndWithTheStatus) {
    Start();
    ASSERT_EQ(m_child.BeginWait(), 0);
    Send("exit 200");
    JoinWaitThread();
    EXPECT_TRUE(m_child.m_bwaitfailed);
    EXPECT_FALSE(m_child.m_bwaitdone);
    EXPECT_EQ(m_child.m_lasterror, 200);
    EXPECT_EQ(m_child.m_exitcode, 200);
    EXPECT_TRUE(m_log.has(kThreadTag, "Wait failed; LastErr=200"));
    EXPECT_FALSE(m_log.has(kThreadTag, "WaitThread complete."));
}

// Wait reports the status in the caller's thread; its time-out is not consulted.
TEST_F(WaitForChild, WaitReturnsTheStatusAndLogsItThreeWays) {
    struct Case {
        const char* name;
        const char* command;  // null: the child is killed
        unsigned long timeout;
        int status;
        const char* hex;
    };
    const Case cases[] = {
        {"exit 3", "exit 3", 0, 3, "0x3"},
        {"exit 255, time-out 5", "exit 255", 5, 255, "0xFF"},
        {"killed", nullptr, 0, 128 + SIGKILL, "0x89"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ifxtest::LogFile log(2);
        EvEvent event;
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &event;
        ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, args), 0);
        if (c.command != nullptr) {
            std::string command = c.command;
            ASSERT_EQ(child.WriteBuf(command.data()), 0);
        } else {
            ASSERT_EQ(::kill(child.m_childpid, SIGKILL), 0);
        }
        EXPECT_EQ(child.Wait(c.timeout), c.status);
        EXPECT_EQ(child.m_exitcode, c.status);
        const std::string status = std::to_string(c.status);
        EXPECT_TRUE(
            log.has(kWaitTag, "WaitForProcessToEnd - JX_IFX_OK; return Code [" + status + "]"));
        EXPECT_TRUE(log.has(kWaitTag, std::string("Onbar Exit status ") + c.hex));
        EXPECT_TRUE(log.has(kWaitTag, "Child exited with error " + status));
        child.Finalize();
    }
}

// The direct launch leaves no process object: no status to wait for.
TEST_F(WaitForChild, AfterTheDirectLaunchWaitFailsAtOnce) {
    Start(Launch::Direct);
    EXPECT_EQ(m_child.Wait(0), -1);
    EXPECT_EQ(m_child.m_exitcode, 0);
    EXPECT_TRUE(m_log.has(kWaitTag, "WaitForProcessToEnd - JX_IFX_ERROR"));

    ASSERT_EQ(m_child.BeginWait(), 0);
    JoinWaitThread();
    EXPECT_TRUE(m_child.m_bwaitstarted);
    EXPECT_TRUE(m_child.m_bwaitfailed);
    EXPECT_FALSE(m_child.m_bwaitdone);
    EXPECT_EQ(m_child.m_lasterror, 0);
    EXPECT_TRUE(m_log.has(kThreadTag, "Wait failed; LastErr=0"));

    m_child.Finalize();
    EXPECT_EQ(ifxtest::WaitForStatus(m_child, Launch::Direct), 0);
}

// Once a wait thread exists BeginWait refuses at once, whether the first wait still runs
// or has finished, and the first wait's report stays as it is.
TEST_F(WaitForChild, ASecondBeginWaitIsRefused) {
    Start();
    ASSERT_EQ(m_child.BeginWait(), 0);
    JxThread* first = m_child.m_pthread;
    EXPECT_EQ(m_child.BeginWait(), -1) << "while the first wait runs";
    EXPECT_EQ(m_child.m_pthread, first) << "the running thread is not lost";
    Send("exit 3");
    JoinWaitThread();
    EXPECT_TRUE(m_child.m_bwaitfailed);
    EXPECT_EQ(m_child.m_lasterror, 3);
    EXPECT_EQ(m_child.m_exitcode, 3);

    EXPECT_EQ(m_child.BeginWait(), -1) << "after the first wait ended";
    EXPECT_EQ(m_child.m_lasterror, 3);
    EXPECT_EQ(m_child.m_exitcode, 3);
    EXPECT_TRUE(m_child.m_bwaitfailed);
    EXPECT_FALSE(m_child.m_bwaitdone);
    EXPECT_TRUE(m_log.has("IfxChildProcess::BeginWait", "wait thread already started"));
    EXPECT_FALSE(m_log.has("IfxChildProcess::BeginWait", "CreateThread failed"));
    m_child.Finalize();
}

// The caller polls ReadBuf while the wait thread runs, as agent code does; the end of the
// output counts as final only once the thread has seen the child end.
TEST(WaitForChildConcurrently, ReadBufPollsWhileTheWaitThreadRuns) {
    ifxtest::LogFile log;
    EvEvent event;
    IfxChildProcess child;
    ifxtest::LaunchArgs args;
    args.event = &event;
    args.nonBlocking = true;
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, args), 0);
    ASSERT_EQ(child.BeginWait(), 0);
    EXPECT_EQ(ifxtest::Ask(child, "echo while waiting"), "while waiting");
    std::string command = "exit 0";
    ASSERT_EQ(child.WriteBuf(command.data()), 0);
    ifxtest::WaitForOutputEnd(child);
    char buffer[16];
    EXPECT_EQ(child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_TRUE(child.m_lasterror == EAGAIN || child.m_lasterror == EPIPE) << child.m_lasterror;
    ASSERT_EQ(child.m_pthread->join(), 0);
    EXPECT_EQ(child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_EQ(child.m_lasterror, EPIPE);
    EXPECT_TRUE(child.m_beof);
    EXPECT_TRUE(child.m_bwaitdone);
    child.Finalize();
}

// The agent launches while other children are being waited for: both launches fork in
// a process with another thread running.
TEST(WaitForChildConcurrently, LaunchesWhileAnotherWaitThreadRuns) {
    IfxChildProcess waited;
    ASSERT_EQ(ifxtest::LaunchChild(waited, Launch::ProcessService, {}), 0);
    ASSERT_EQ(waited.BeginWait(), 0);
    for (Launch how : {Launch::Direct, Launch::ProcessService}) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        IfxChildProcess child;
        ASSERT_EQ(ifxtest::LaunchChild(child, how, {}), 0);
        EXPECT_EQ(ifxtest::Ask(child, "echo beside"), "beside");
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
    }
    waited.Finalize();
    ASSERT_EQ(waited.m_pthread->join(), 0);
    EXPECT_TRUE(waited.m_bwaitdone);
}

}  // namespace
