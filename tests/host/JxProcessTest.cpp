#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <string>

#include <IfxLib/platform/HostServices.h>

#include "support/SystemCallFailure.h"
#include "support/SystemPrograms.h"

namespace {

void exitWithCode(void* code) {
    ::_exit(*static_cast<int*>(code));
}

void killSelf(void*) {
    ::raise(SIGKILL);
}

void returnAtOnce(void*) {}

// Runs until the parent closes its write end of the pipe.
void waitForEndOfPipe(void* pipeFds) {
    int* fds = static_cast<int*>(pipeFds);
    ::close(fds[1]);
    char byte;
    while (::read(fds[0], &byte, 1) > 0) {
    }
    ::_exit(0);
}

TEST(JxProcessTest, StatusIsExitCodeOr128PlusSignal) {
    struct Case {
        const char* name;
        void (*callback)(void*);
        int code;
        int expected;
    };
    for (const Case& c : {Case{"exit 0", exitWithCode, 0, 0}, Case{"exit 81", exitWithCode, 81, 81},
                          Case{"SIGKILL", killSelf, 0, 128 + SIGKILL},
                          Case{"callback returns", returnAtOnce, 0, 127}}) {
        SCOPED_TRACE(c.name);
        JxProcess process;
        int code = c.code;
        std::string error;
        ASSERT_TRUE(process.Fork(c.callback, &code, &error)) << error;
        EXPECT_GT(process.GetChildPid(), 0);
        int status = -1;
        ASSERT_TRUE(process.WaitForProcessToEnd(&status, &error, -1)) << error;
        EXPECT_EQ(status, c.expected);
        EXPECT_FALSE(process.WaitForProcessToEnd(&status, &error, -1));
    }
}

TEST(JxProcessTest, TimedWaitFailsWithTimedOutAndLeavesTheChildRunning) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    JxProcess process;
    std::string error;
    ASSERT_TRUE(process.Fork(waitForEndOfPipe, pipeFds, &error));
    ::close(pipeFds[0]);

    int status = -1;
    EXPECT_FALSE(process.WaitForProcessToEnd(&status, &error, 20));
    EXPECT_EQ(error, "timed out");
    EXPECT_EQ(::kill(process.GetChildPid(), 0), 0);

    ::close(pipeFds[1]);  // lets the child end
    EXPECT_TRUE(process.WaitForProcessToEnd(&status, &error, 60000)) << error;
    EXPECT_EQ(status, 0);
}

// Where the kernel has no process descriptors (pidfd_open refused, as before Linux 5.3),
// a timed wait still ends at the child's end, not at its bound. In a process of its own,
// since the filter cannot be removed.
TEST(JxProcessTest, TimedWaitWorksWithoutProcessDescriptors) {
    constexpr int kNoFilter = 120;
    const pid_t tester = ::fork();
    ASSERT_GE(tester, 0);
    if (tester == 0) {
        constexpr long kPidfdOpen = 434;
        if (ifxtest::FailSystemCalls({kPidfdOpen}, ENOSYS) != 0) {
            ::_exit(kNoFilter);
        }
        int pipeFds[2];
        JxProcess process;
        std::string error;
        if (::pipe(pipeFds) != 0 || !process.Fork(waitForEndOfPipe, pipeFds, &error)) {
            ::_exit(1);
        }
        ::close(pipeFds[0]);
        int status = -1;
        if (process.WaitForProcessToEnd(&status, &error, 20) || error != "timed out") {
            ::_exit(2);
        }
        ::close(pipeFds[1]);  // lets the child end; the bound is only for a hang
        if (!process.WaitForProcessToEnd(&status, &error, 120000) || status != 0) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    int raw = 0;
    ASSERT_EQ(::waitpid(tester, &raw, 0), tester);
    ASSERT_TRUE(WIFEXITED(raw));
    if (WEXITSTATUS(raw) == kNoFilter) {
        GTEST_SKIP() << "no seccomp filters here";
    }
    EXPECT_EQ(WEXITSTATUS(raw), 0);
}

TEST(JxProcessTest, WaitWithoutChildFails) {
    JxProcess process;
    int status = 0;
    std::string error;
    EXPECT_FALSE(process.WaitForProcessToEnd(&status, &error, -1));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(process.GetChildPid(), 0);
}

TEST(JxProcessTest, SystemCapturesStandardOutputAndReportsTheExitStatus) {
    IFXTEST_SKIP_WITHOUT_PROGRAM("/bin/sh");
    std::string output;
    std::string error;
    EXPECT_EQ(JxProcess::system("printf 'a b\\n'; echo err >&2", &output, &error, 0, false), 0);
    EXPECT_EQ(output, "a b\n");

    output.clear();
    EXPECT_EQ(JxProcess::system("echo partial; exit 3", &output, nullptr, 0, false), 3);
    EXPECT_EQ(output, "partial\n");
    EXPECT_EQ(JxProcess::system(nullptr, &output, &error, 0, false), -1);
}

}  // namespace
