// The environment a child gets: the parent's, with the launch's pairs set as putenv sets
// them, prepared before the fork.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "childprocess/ChildTestSupport.h"
#include "support/ScopedEnv.h"

namespace {

using ifxtest::Launch;

constexpr Launch kLaunches[] = {Launch::Direct, Launch::ProcessService};

TEST(ChildEnvironment, PairsReplaceInheritedValuesInTheChildOnly) {
    ifxtest::ScopedEnv inherited("IFXT_INHERITED", std::string("parent"));
    ifxtest::ScopedEnv kept("IFXT_KEPT", std::string("kept"));
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.envNames = std::vector<std::string>{"IFXT_INHERITED", "IFXT_TWICE", "IFXT_TWICE"};
        args.envValues = std::vector<std::string>{"child", "first", "second"};
        ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
        EXPECT_EQ(ifxtest::Ask(child, "env IFXT_INHERITED"), "child");
        EXPECT_EQ(ifxtest::Ask(child, "env IFXT_TWICE"), "second") << "the later pair wins";
        EXPECT_EQ(ifxtest::Ask(child, "env IFXT_KEPT"), "kept");
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
        EXPECT_STREQ(std::getenv("IFXT_INHERITED"), "parent");
        EXPECT_EQ(std::getenv("IFXT_TWICE"), nullptr);
    }
}

// Another thread keeps the C library's environment lock busy while children are forked.
// A child that set its variables with putenv would, now and then, wait for a lock whose
// holder does not exist in it, and never reach its program.
TEST(ChildEnvironment, ABusyEnvironmentLockInTheParentCannotHoldAChild) {
    ifxtest::ScopedEnv busy("IFXT_BUSY", std::string("a"));
    static char first[] = "IFXT_BUSY=a";
    static char second[] = "IFXT_BUSY=b";
    std::atomic<bool> stop{false};
    std::thread writer([&stop] {
        bool flip = false;
        while (!stop.load(std::memory_order_relaxed)) {
            // putenv of a name that exists swaps one pointer under the lock: environ is
            // never reallocated and no entry's text changes while a launch reads it.
            ::putenv(flip ? first : second);
            flip = !flip;
        }
    });
    int stuck = 0;
    for (int round = 0; round < 60 && stuck == 0; ++round) {
        for (Launch how : kLaunches) {
            IfxChildProcess child;
            ifxtest::LaunchArgs args;
            args.envNames = std::vector<std::string>{"IFXT_SET"};
            args.envValues = std::vector<std::string>{"v"};
            ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
            std::string command = "env IFXT_SET";
            ASSERT_EQ(child.WriteBuf(command.data()), 0);
            struct pollfd output {};
            output.fd = child.m_phpipecw[0];
            output.events = POLLIN;
            // Only a hang detector: a healthy child answers in milliseconds.
            if (::poll(&output, 1, 20000) != 1) {
                ++stuck;
                ::kill(child.m_childpid, SIGKILL);
            } else {
                EXPECT_EQ(ifxtest::ReadLine(child), "v");
            }
            child.Finalize();
            ifxtest::WaitForStatus(child, how);
        }
    }
    stop = true;
    writer.join();
    EXPECT_EQ(stuck, 0) << "a child never reached its program";
}

}  // namespace
