#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <thread>

#include <IfxLib/IfxLib.h>

#include "support/SystemPrograms.h"

namespace {

TEST(ProcessShimsTest, IdsAreParentAndProcessOnEveryThread) {
    auto check = [] {
        EXPECT_EQ(GET_CURRENTPROCESSID(), ::getppid());
        EXPECT_EQ(GET_CURRENTTHREADID(), ::getpid());
    };
    check();
    std::thread other(check);
    other.join();
}

TEST(ProcessShimsTest, LastErrorIsErrno) {
    errno = EACCES;
    EXPECT_EQ(GETLASTERROR(), EACCES);
}

// GET_PARENTPID asks /bin/ps through /bin/sh.
TEST(GetParentPidTest, ReportsTheParentOfARealChild) {
    IFXTEST_SKIP_WITHOUT_PROGRAM("/bin/sh");
    IFXTEST_SKIP_WITHOUT_PROGRAM("/bin/ps");
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[1]);
        char byte;
        while (::read(pipeFds[0], &byte, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(pipeFds[0]);
    EXPECT_EQ(GET_PARENTPID(child), ::getpid());
    EXPECT_EQ(GET_PARENTPID(::getpid()), ::getppid());
    ::close(pipeFds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
}

TEST(GetParentPidTest, ProcessOneHasParentZeroAndAMissingProcessFails) {
    IFXTEST_SKIP_WITHOUT_PROGRAM("/bin/sh");
    IFXTEST_SKIP_WITHOUT_PROGRAM("/bin/ps");
    EXPECT_EQ(GET_PARENTPID(1), 0);
    EXPECT_EQ(GET_PARENTPID(-1), -1);

    // The id of a child that has been reaped names no process.
    pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) {
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(gone, &status, 0), gone);
    EXPECT_EQ(GET_PARENTPID(gone), -1);
}

}  // namespace
