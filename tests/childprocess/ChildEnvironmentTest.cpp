// The environment a child gets: the parent's, with the launch's pairs set as putenv sets
// them, prepared before the fork.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <IfxLib/IfxLib.h>

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

// Agent threads add variables through the library's shim while launches with pairs read
// the environment: adding a name moves the environment array, and a launch that read it
// unguarded would read freed memory. Every child must still get its pairs. Each launch
// lets the writers add a few names, so that they add throughout without making the
// environment too large to execute a program with.
TEST(ChildEnvironment, LaunchesWithPairsBesideThreadsThatAddVariables) {
    constexpr int kAddedPerLaunch = 20;
    // The writers and their budget; stopped and joined however the test ends.
    struct Writers {
        std::mutex mutex;
        std::condition_variable budgetChanged;
        int budget = 0;
        int claimed = 0;
        bool stop = false;
        std::vector<std::thread> threads;

        void Grant(int names) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                budget += names;
            }
            budgetChanged.notify_all();
        }
        // The next name's number, or -1 once stopped.
        int Claim() {
            std::unique_lock<std::mutex> lock(mutex);
            budgetChanged.wait(lock, [this] { return stop || claimed < budget; });
            return stop ? -1 : claimed++;
        }
        ~Writers() {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            budgetChanged.notify_all();
            for (std::thread& thread : threads) {
                thread.join();
            }
        }
    } writers;
    for (int t = 0; t < 2; ++t) {
        writers.threads.emplace_back([&writers, t] {
            for (int n = writers.Claim(); n >= 0; n = writers.Claim()) {
                const std::string name =
                    "IFXT_STORM_" + std::to_string(t) + "_" + std::to_string(n);
                EXPECT_EQ(SETENVIRONMENTVARIABLE(name.c_str(), "v"), 1);
            }
        });
    }
    for (int round = 0; round < 150; ++round) {
        for (Launch how : kLaunches) {
            SCOPED_TRACE(std::string(ifxtest::LaunchName(how)) + ", round " +
                         std::to_string(round));
            writers.Grant(kAddedPerLaunch);
            IfxChildProcess child;
            ifxtest::LaunchArgs args;
            args.envNames = std::vector<std::string>{"IFXT_PAIR", "IFXT_OTHER"};
            args.envValues = std::vector<std::string>{"p" + std::to_string(round), "o"};
            ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
            EXPECT_EQ(ifxtest::Ask(child, "env IFXT_PAIR"), "p" + std::to_string(round));
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
        }
    }
}

}  // namespace
