// The wait thread against the caller's thread, with the thread's start steered so that
// each interleaving happens every time instead of now and then.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include "childprocess/ChildTestSupport.h"
#include "childprocess/ThreadStartControl.h"
#include "support/LogFile.h"

namespace {

using ifxtest::Launch;
using ifxtest::NextThreadStart;

class WaitThreadRace : public ::testing::Test {
  protected:
    void Start(bool nonBlocking) {
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        args.nonBlocking = nonBlocking;
        ASSERT_EQ(ifxtest::LaunchChild(m_child, Launch::ProcessService, args), 0);
    }
    void TearDown() override { ifxtest::SetNextThreadStart(NextThreadStart::kNormal); }

    ifxtest::LogFile m_log;
    EvEvent m_event;
    IfxChildProcess m_child;
};

// The child has ended and the wait thread has stored its status before thread creation
// even returns to BeginWait: the status must survive BeginWait's own bookkeeping.
TEST_F(WaitThreadRace, BeginWaitKeepsTheStatusOfAThreadThatFinishedFirst) {
    Start(false);
    std::string command = "exit 3";
    ASSERT_EQ(m_child.WriteBuf(command.data()), 0);
    ifxtest::SetNextThreadStart(NextThreadStart::kReturnAfterItEnds);
    EXPECT_EQ(m_child.BeginWait(), 0);
    EXPECT_TRUE(m_child.m_bwaitfailed);
    EXPECT_EQ(m_child.m_exitcode, 3);
    EXPECT_EQ(m_child.m_lasterror, 3);
    EXPECT_FALSE(m_log.has("IfxChildProcess::BeginWait", "CreateThread failed"));
    m_child.Finalize();
}

// The caller's ReadBuf and the wait thread report through the same member: a thread that
// starts after the caller's read must not wipe the read's reason, and a wait that ends
// well has nothing to store over it.
TEST_F(WaitThreadRace, TheWaitThreadLeavesTheCallersErrorAlone) {
    Start(true);
    ifxtest::SetNextThreadStart(NextThreadStart::kHoldUntilReleased);
    ASSERT_EQ(m_child.BeginWait(), 0);
    ifxtest::WaitForHeldThread();
    std::string command = "exit 0";
    ASSERT_EQ(m_child.WriteBuf(command.data()), 0);
    ifxtest::WaitForOutputEnd(m_child);
    char buffer[16];
    EXPECT_EQ(m_child.ReadBuf(buffer, sizeof buffer), -1);
    ASSERT_EQ(m_child.m_lasterror, EAGAIN) << "the held thread cannot have seen the end";

    ifxtest::ReleaseHeldThread();
    ASSERT_EQ(m_child.m_pthread->join(), 0);
    EXPECT_TRUE(m_child.m_bwaitdone);
    EXPECT_EQ(m_child.m_lasterror, EAGAIN) << "cleared by the wait thread";
    EXPECT_EQ(m_child.m_exitcode, 0);
    EXPECT_EQ(m_child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_child.m_lasterror, EPIPE);
    m_child.Finalize();
}

}  // namespace
