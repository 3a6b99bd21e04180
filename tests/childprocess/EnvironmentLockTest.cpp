// A launch against a writer of the environment caught in the middle of its change.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "childprocess/ChildTestSupport.h"
#include "childprocess/EnvironmentWriteControl.h"

namespace {

using ifxtest::Launch;

// SETENVIRONMENTVARIABLE is held inside putenv with the environment torn. A launch with
// pairs started meanwhile must wait for the write to end before it reads the environment
// (the lock both take), so that its child gets the whole environment, the new variable
// included, and never the torn one.
TEST(EnvironmentLock, ALaunchWaitsForTheLibrarysEnvironmentWriter) {
    for (Launch how : {Launch::Direct, Launch::ProcessService}) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        const std::string written = std::string("IFXT_WRITTEN_") + ifxtest::LaunchName(how);
        ifxtest::ArmNextEnvironmentWrite();
        std::thread writer([&written] { SETENVIRONMENTVARIABLE(written.c_str(), "1"); });
        ifxtest::WaitForEnvironmentWrite();

        IfxChildProcess child;
        std::atomic<bool> returned{false};
        std::promise<pid_t> launcherId;
        int launched = -1;
        std::thread launcher([&] {
            launcherId.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
            ifxtest::LaunchArgs args;
            args.envNames = std::vector<std::string>{"IFXT_PAIR"};
            args.envValues = std::vector<std::string>{"1"};
            launched = ifxtest::LaunchChild(child, how, args);
            returned = true;
        });
        // The writer goes on once the launch waits for it, or has gone ahead without.
        const pid_t launcherThread = launcherId.get_future().get();
        while (!returned && !ifxtest::IsBlockedIn(launcherThread, SYS_futex)) {
            ifxtest::PauseBeforeLookingAgain();
        }
        ifxtest::ReleaseEnvironmentWrite();
        writer.join();
        launcher.join();

        ASSERT_EQ(launched, 0);
        EXPECT_EQ(ifxtest::Ask(child, "env IFXT_TORN"), "<unset>") << "read while torn";
        EXPECT_EQ(ifxtest::Ask(child, "env " + written), "1") << "read before the write";
        EXPECT_EQ(ifxtest::Ask(child, "env IFXT_PAIR"), "1");
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
    }
}

}  // namespace
