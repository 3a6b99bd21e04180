// WriteBuf and ReadBuf against a real child.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>

#include "childprocess/ChildTestSupport.h"
#include "support/LogFile.h"

namespace {

using ifxtest::Launch;

const char kWriteTag[] = "IfxChildProcess::WriteBuf";
const char kReadTag[] = "IfxChildProcess::ReadBuf";

class PipeIo : public ::testing::Test {
  protected:
    void Start(bool nonBlocking) {
        ifxtest::LaunchArgs args;
        args.event = &m_event;
        args.nonBlocking = nonBlocking;
        ASSERT_EQ(ifxtest::LaunchChild(m_child, Launch::ProcessService, args), 0);
    }
    int Send(const char* text) {
        std::string copy = text;
        return m_child.WriteBuf(copy.data());
    }
    void TearDown() override {
        m_child.Finalize();
        if (m_child.m_pprocess != nullptr && !m_child.m_bwaitstarted) {
            m_child.Wait(0);
        }
    }

    ifxtest::LogFile m_log{2};
    EvEvent m_event;
    IfxChildProcess m_child;
};

// The terminator goes out too: the helper runs a command only when its NUL arrives.
TEST_F(PipeIo, WriteBufSendsTheTextWithItsTerminator) {
    Start(false);
    EXPECT_EQ(Send("echo abc"), 0);
    EXPECT_EQ(m_child.m_lasterror, 0);
    EXPECT_EQ(ifxtest::ReadLine(m_child), "abc");
    EXPECT_TRUE(m_log.has(kWriteTag, "write 9 bytes"));
}

TEST_F(PipeIo, WriteBufOfNothingWritesNothing) {
    Start(false);
    EXPECT_EQ(m_child.WriteBuf(nullptr), 0);
    EXPECT_EQ(Send(""), 0);
    // A lone NUL would have reached the helper as an empty command and been answered.
    EXPECT_EQ(ifxtest::Ask(m_child, "echo first"), "first");
    EXPECT_FALSE(m_log.has(kWriteTag, "write 1 bytes"));
}

// A write to a child that has gone must fail, not end the test with SIGPIPE, and leave
// its reason for the caller although it finalizes the object.
TEST_F(PipeIo, WriteToAnEndedChildFailsWithEpipe) {
    Start(false);
    struct sigaction action {};
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_IGN);
    EXPECT_EQ(Send("exit 0"), 0);
    EXPECT_EQ(m_child.Wait(0), 0);

    EXPECT_EQ(Send("echo anyone?"), -1);
    EXPECT_EQ(m_child.m_lasterror, EPIPE);
    EXPECT_TRUE(m_log.has(kWriteTag, "write failed: errno=32"));
    EXPECT_TRUE(m_log.has("IfxChildProcess::Finalize", "start"));
    EXPECT_FALSE(ifxtest::DescriptorIsOpen(m_child.m_phpipecw[0])) << "finalized";

    char buffer[16];
    EXPECT_EQ(m_child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_child.m_lasterror, EBADF);
}

TEST_F(PipeIo, BlockingReadBufReportsTheEndOfTheOutputWith32) {
    Start(false);
    EXPECT_EQ(ifxtest::Ask(m_child, "stderr oops"), "oops");
    EXPECT_EQ(Send("exit 0"), 0);
    char buffer[16];
    EXPECT_EQ(m_child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_child.m_lasterror, EPIPE);
    EXPECT_FALSE(m_child.m_beof) << "only the non-blocking mode marks the end";
    EXPECT_TRUE(m_log.has(kReadTag, "Received(5 bytes):oops\\n")) << "the newline escaped";
}

// A read that fills the buffer leaves no terminator in it; the trace must stop at the
// count (AddressSanitizer reports a read past the heap block otherwise).
TEST_F(PipeIo, ReadOfExactlySizeBytesStaysInsideTheBuffer) {
    Start(false);
    ASSERT_EQ(Send("echo 1234567"), 0);
    auto buffer = std::make_unique<char[]>(8);
    ASSERT_EQ(m_child.ReadBuf(buffer.get(), 8), 0);
    EXPECT_EQ(std::string(buffer.get(), 8), "1234567\n");
    EXPECT_TRUE(m_log.has(kReadTag, "Received(8 bytes):1234567\\n")) << m_log.text();
}

// Non-blocking: an empty pipe and an ended output both give 11 until the wait thread has
// seen the child end; then 32 and m_beof.
TEST_F(PipeIo, NonBlockingReadBufTellsNothingYetFromTheEnd) {
    Start(true);
    char buffer[16];
    EXPECT_EQ(m_child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_child.m_lasterror, EAGAIN);
    EXPECT_FALSE(m_log.hasContaining(kReadTag, "read failed")) << "logged at level 12 only";

    EXPECT_EQ(Send("exit 0"), 0);
    ifxtest::WaitForOutputEnd(m_child);
    EXPECT_EQ(m_child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_child.m_lasterror, EAGAIN) << "the wait has not finished";
    EXPECT_FALSE(m_child.m_beof);

    ASSERT_EQ(m_child.BeginWait(), 0);
    ASSERT_EQ(m_child.m_pthread->join(), 0);
    EXPECT_EQ(m_child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_child.m_lasterror, EPIPE);
    EXPECT_TRUE(m_child.m_beof);
    EXPECT_EQ(m_child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_EQ(m_child.m_lasterror, EPIPE) << "and keeps saying so";
}

TEST(PipeIoLevels, AFailedReadIsTracedAtLevel12) {
    ifxtest::LogFile log(12);
    EvEvent event;
    IfxChildProcess child;
    ifxtest::LaunchArgs args;
    args.event = &event;
    args.nonBlocking = true;
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, args), 0);
    char buffer[16];
    EXPECT_EQ(child.ReadBuf(buffer, sizeof buffer), -1);
    EXPECT_TRUE(log.has(kReadTag, "read failed: errno=11"));
    child.Finalize();
    EXPECT_EQ(child.Wait(0), 0);
}

}  // namespace
