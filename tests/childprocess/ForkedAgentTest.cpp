// An agent that forks workers while its other threads use the environment shims. A worker
// must never inherit the library's environment lock held by a thread that does not exist
// in it: its first shim or launch would wait for ever. A fault here hangs the test rather
// than failing it; CTest's time-out ends it.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "childprocess/ChildTestSupport.h"
#include "support/ScopedEnv.h"

namespace {

using ifxtest::Launch;

constexpr int kWorkers = 300;
// Every so many workers also launch a child, which takes the same lock.
constexpr int kLaunchEvery = 50;
// A large environment keeps each shim's walk of it, and so its hold of the lock, long.
constexpr int kPaddingVariables = 1000;

// Enough variables to make the walk long, removed again at the end.
class PaddedEnvironment {
  public:
    PaddedEnvironment() {
        for (int i = 0; i < kPaddingVariables; ++i) {
            ::setenv(name(i).c_str(), "padding", 1);
        }
    }
    ~PaddedEnvironment() {
        for (int i = 0; i < kPaddingVariables; ++i) {
            ::unsetenv(name(i).c_str());
        }
    }
    PaddedEnvironment(const PaddedEnvironment&) = delete;
    PaddedEnvironment& operator=(const PaddedEnvironment&) = delete;

  private:
    static std::string name(int i) { return "IFXT_PAD_" + std::to_string(i); }
};

// The worker's own use of the shims, and of a launch now and then; its exit code says
// what failed.
[[noreturn]] void RunWorker(int index) {
    char value[32] = {};
    int faults = 0;
    if (GETENVIRONMENTVARIABLE("IFXT_SHIM_READ", value, sizeof value) != 4) {
        faults |= 1;
    }
    if (SETENVIRONMENTVARIABLE("IFXT_WORKER", "1") != 1) {
        faults |= 2;
    }
    if (index % kLaunchEvery == 0) {
        IfxChildProcess child;
        if (ifxtest::LaunchChild(child, Launch::Direct, {}) != 0) {
            faults |= 4;
        } else {
            child.Finalize();
            if (ifxtest::WaitForStatus(child, Launch::Direct) != 0) {
                faults |= 4;
            }
        }
    }
    // The raw call: a sanitizer's exit-time checks would report the parent's threads,
    // which this copy of it inherited the records of, and change the exit code.
    ::syscall(SYS_exit_group, faults);
    ::_exit(faults);
}

TEST(ForkedAgent, WorkersForkedBesideThreadsThatUseTheShimsNeverHang) {
    const ifxtest::ScopedEnv read("IFXT_SHIM_READ", std::string(" read "));
    const ifxtest::ScopedEnv worker("IFXT_WORKER", std::nullopt);
    const PaddedEnvironment padding;
    std::atomic<bool> stop{false};
    std::vector<std::thread> users;
    for (int i = 0; i < 2; ++i) {
        // Readers only: each call holds the lock for its walk of the environment, and a
        // writer would add an entry for good at every call.
        users.emplace_back([&stop] {
            char value[32];
            while (!stop) {
                GETENVIRONMENTVARIABLE("IFXT_SHIM_READ", value, sizeof value);
            }
        });
    }
    int failed = 0;
    for (int index = 0; index < kWorkers; ++index) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            RunWorker(index);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ++failed;
            ADD_FAILURE() << "worker " << index << " ended with status " << status;
        }
    }
    stop = true;
    for (std::thread& user : users) {
        user.join();
    }
    EXPECT_EQ(failed, 0);
}

}  // namespace
