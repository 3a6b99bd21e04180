// A launch whose program sits on a file system that holds its lookup: the child is inside
// exec for as long as the test wants. What the agent must keep meanwhile: its environment
// shims and its other launches, the environment the program will start with, and, once
// no child sharing its memory is before its exec, its dumpable flag. A fault here hangs
// the test rather than failing it; CTest's time-out ends it.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "childprocess/ChildTestSupport.h"
#include "childprocess/HeldLookupFs.h"
#include "support/Sanitizers.h"
#include "support/ScopedEnv.h"
#include "support/SleepMarkerLock.h"

extern char** environ;

namespace {

using ifxtest::Launch;

const Launch kLaunches[] = {Launch::Direct, Launch::ProcessService};

int DumpableFlag() {
    return static_cast<int>(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0));
}

// One launch on a thread of its own, which a held exec may keep inside the launch.
class LaunchOnThread {
  public:
    LaunchOnThread(Launch how, ifxtest::LaunchArgs args)
        : m_how(how),
          m_thread([this, args] { m_result = ifxtest::LaunchChild(m_child, m_how, args); }) {}
    ~LaunchOnThread() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    LaunchOnThread(const LaunchOnThread&) = delete;
    LaunchOnThread& operator=(const LaunchOnThread&) = delete;

    // The launch's result, once it has returned.
    int Join() {
        m_thread.join();
        return m_result;
    }
    IfxChildProcess& child() { return m_child; }

  private:
    Launch m_how;
    IfxChildProcess m_child;
    int m_result = -2;
    std::thread m_thread;
};

class HeldExec : public ::testing::Test {
  protected:
    void SetUp() override {
        // Which children are before their exec, and on which path they start, is what
        // these tests watch: another clone's sleep marker would change both.
        ASSERT_EQ(m_markerLock.error(), "");
        if (!ifxtest::SystemCallNumbersAreOurs()) {
            GTEST_SKIP() << "under user-mode emulation the file system's requests arrive in "
                            "the build machine's byte order";
        }
        if (const std::string reason = ifxtest::HeldLookupFs::Unavailable(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        m_fs.emplace(ifxtest::ChildHelperPathForAnyUser());
        if (m_fs->refusedByHost()) {
            GTEST_SKIP() << "this host refuses the test's FUSE mount: " << m_fs->error();
        }
        ASSERT_EQ(m_fs->error(), "");
    }

    ifxtest::LaunchArgs HeldProgram() const {
        ifxtest::LaunchArgs args;
        args.path = m_fs->LinkPath();
        return args;
    }

    // Lets the held child go on, and checks that its program runs and ends with 0.
    void ReleaseAndFinish(LaunchOnThread& held, Launch how, const std::string& expectedIds) {
        m_fs->ReleaseLookup();
        ASSERT_EQ(held.Join(), 0);
        if (!expectedIds.empty()) {
            EXPECT_EQ(ifxtest::Ask(held.child(), "ids"), expectedIds);
        }
        EXPECT_EQ(ifxtest::Ask(held.child(), "echo released"), "released");
        held.child().Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(held.child(), how), 0);
    }

    ifxtest::SleepMarkerLock m_markerLock{ifxtest::SleepMarkerLock::Use::kNeedsItAbsent};
    std::optional<ifxtest::HeldLookupFs> m_fs;
};

// One launch's program lookup hangs: the environment shims and every other launch must
// go on as if nothing happened, since the launch no longer holds the environment lock
// while its child runs.
TEST_F(HeldExec, ShimsAndOtherLaunchesGoOnWhileOneProgramLookupHangs) {
    const ifxtest::ScopedEnv written("IFXT_DURING_HOLD", std::nullopt);
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        m_fs->HoldNextLookup();
        LaunchOnThread held(how, HeldProgram());
        m_fs->WaitForHeldLookup();
        ASSERT_EQ(m_fs->error(), "");

        EXPECT_EQ(SETENVIRONMENTVARIABLE("IFXT_DURING_HOLD", " held "), 1);
        char value[16] = {};
        EXPECT_EQ(GETENVIRONMENTVARIABLE("IFXT_DURING_HOLD", value, sizeof value), 4u);
        EXPECT_STREQ(value, "held");
        for (Launch other : kLaunches) {
            SCOPED_TRACE(std::string("beside it: ") + ifxtest::LaunchName(other));
            IfxChildProcess child;
            ASSERT_EQ(ifxtest::LaunchChild(child, other, {}), 0);
            EXPECT_EQ(ifxtest::Ask(child, "env IFXT_DURING_HOLD"), "held");
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, other), 0);
        }
        ReleaseAndFinish(held, how, "");
    }
}

// Blocks of the sizes an environment array of about count entries takes, each filled
// with entries of its own: memory the C library frees is handed out again here, and a
// program given a freed array would start with these.
class EnvironmentLookalikes {
  public:
    explicit EnvironmentLookalikes(size_t count) {
        static char junk[] = "IFXT_JUNK=1";
        for (size_t entries = count / 2 + 1; entries < count * 2 + 64; ++entries) {
            auto** block = static_cast<char**>(std::malloc((entries + 1) * sizeof(char*)));
            if (block == nullptr) {
                continue;
            }
            for (size_t i = 0; i < entries; ++i) {
                block[i] = junk;
            }
            block[entries] = nullptr;
            m_blocks.push_back(block);
        }
    }
    ~EnvironmentLookalikes() {
        for (char** block : m_blocks) {
            std::free(block);
        }
    }
    EnvironmentLookalikes(const EnvironmentLookalikes&) = delete;
    EnvironmentLookalikes& operator=(const EnvironmentLookalikes&) = delete;

  private:
    std::vector<char**> m_blocks;
};

std::vector<std::string> EnvironmentEntries() {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

// Puts every saved entry back with setenv, after clearenv took them all.
void RestoreEnvironment(const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
        const size_t equals = entry.find('=');
        if (equals != std::string::npos) {
            ::setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
        }
    }
}

// While the child is in exec, another thread replaces a variable with raw setenv, adds enough
// variables to move the array, then clears the environment (the C library frees the array) and
// fills memory with lookalikes. The program must start with the environment of its launch,
// untouched by any of it.
TEST_F(HeldExec, TheProgramStartsWithTheEnvironmentOfItsLaunch) {
    const ifxtest::ScopedEnv kept("IFXT_KEPT", std::string("before"));
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        // An array of the C library's own, which setenv moves and clearenv frees.
        const ifxtest::ScopedEnv fresh("IFXT_FRESH", std::string("1"));
        const std::vector<std::string> saved = EnvironmentEntries();
        m_fs->HoldNextLookup();
        LaunchOnThread held(how, HeldProgram());
        m_fs->WaitForHeldLookup();
        ASSERT_EQ(m_fs->error(), "");

        if (ifxtest::kUnderSanitizer) {
            // The launch's copy is over (the held lookup says so), but that order runs
            // through the file system's server, which ThreadSanitizer cannot see; the
            // library's lock, which the copy released, shows it. (Such builds fork, so
            // the lock is free whatever the launch does.)
            char ignored[2];
            GETENVIRONMENTVARIABLE("IFXT_KEPT", ignored, sizeof ignored);
        }
        // Raw calls, which no lock of the library's keeps out: the launch has nothing left
        // to protect once its copy is made.
        ::setenv("IFXT_KEPT", "raw", 1);
        for (int i = 0; i < 64; ++i) {
            ::setenv(("IFXT_ADDED_" + std::to_string(i)).c_str(), "after", 1);
        }
        ::clearenv();
        std::optional<EnvironmentLookalikes> lookalikes;
        lookalikes.emplace(saved.size() + 64);
        RestoreEnvironment(saved);

        m_fs->ReleaseLookup();
        ASSERT_EQ(held.Join(), 0);
        EXPECT_EQ(ifxtest::Ask(held.child(), "env IFXT_KEPT"), "before");
        EXPECT_EQ(ifxtest::Ask(held.child(), "env IFXT_FRESH"), "1");
        EXPECT_EQ(ifxtest::Ask(held.child(), "env IFXT_ADDED_0"), "<unset>");
        EXPECT_EQ(ifxtest::Ask(held.child(), "env IFXT_JUNK"), "<unset>");
        held.child().Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(held.child(), how), 0);
        lookalikes.reset();
        for (int i = 0; i < 64; ++i) {
            ::unsetenv(("IFXT_ADDED_" + std::to_string(i)).c_str());
        }
        ::setenv("IFXT_KEPT", "before", 1);
    }
}

// A child that runs as nobody is held in exec, its credential change having cleared our
// dumpable flag when it shares our memory. Another launch that ends meanwhile must not
// set the flag back (the held child could then be attached by nobody's processes); once
// the held one has executed, the flag is 1 again.
TEST_F(HeldExec, TheDumpableFlagWaitsForEveryChildBeforeItsExec) {
    const std::string nobodyIds = ifxtest::ExpectedIdsOf("nobody");
    ASSERT_TRUE(ifxtest::ExecutableBy("nobody", ifxtest::ChildHelperPathForAnyUser()));
    ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        ifxtest::LaunchArgs args = HeldProgram();
        args.user = "nobody";
        m_fs->HoldNextLookup();
        LaunchOnThread held(how, args);
        m_fs->WaitForHeldLookup();
        ASSERT_EQ(m_fs->error(), "");
        const int whileHeld = DumpableFlag();

        for (Launch other : kLaunches) {
            SCOPED_TRACE(std::string("beside it: ") + ifxtest::LaunchName(other));
            IfxChildProcess child;
            ifxtest::LaunchArgs beside;
            beside.path = ifxtest::ChildHelperPathForAnyUser();
            beside.user = "nobody";
            ASSERT_EQ(ifxtest::LaunchChild(child, other, beside), 0);
            EXPECT_EQ(DumpableFlag(), whileHeld) << "set back while a child is before its exec";
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, other), 0);
        }
        ReleaseAndFinish(held, how, nobodyIds);
        EXPECT_EQ(DumpableFlag(), 1);
    }
}

// Which of a forked worker's expectations failed, as its exit code: the flag it starts
// with, its own launch as nobody, and the flag after that launch.
enum WorkerFault { kStartedUndumpable = 1, kLaunchFailed = 2, kUndumpableAfterLaunch = 4 };

[[noreturn]] void RunWorker() {
    int faults = DumpableFlag() == 1 ? 0 : kStartedUndumpable;
    IfxChildProcess child;
    ifxtest::LaunchArgs args;
    args.path = ifxtest::ChildHelperPathForAnyUser();
    args.user = "nobody";
    if (ifxtest::LaunchChild(child, Launch::Direct, args) != 0) {
        faults |= kLaunchFailed;
    } else {
        child.Finalize();
        if (ifxtest::WaitForStatus(child, Launch::Direct) != 0) {
            faults |= kLaunchFailed;
        }
    }
    if (DumpableFlag() != 1) {
        faults |= kUndumpableAfterLaunch;
    }
    // The raw call: a sanitizer's exit-time checks would report the parent's threads,
    // which this copy of it inherited the records of, and change the exit code.
    ::syscall(SYS_exit_group, faults);
    ::_exit(faults);
}

// The agent forks a worker while a launch as nobody is held in exec, the held child
// having cleared the flag of the memory it shares with us. None of our children runs in
// the worker's memory: it starts dumpable, with no launch in flight, so its own launches
// leave it dumpable too (a crash of it leaves a core file).
TEST_F(HeldExec, AProcessForkedWhileALaunchIsHeldStartsDumpableWithNothingInFlight) {
    const std::string nobodyIds = ifxtest::ExpectedIdsOf("nobody");
    ASSERT_TRUE(ifxtest::ExecutableBy("nobody", ifxtest::ChildHelperPathForAnyUser()));
    ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        ifxtest::LaunchArgs args = HeldProgram();
        args.user = "nobody";
        m_fs->HoldNextLookup();
        LaunchOnThread held(how, args);
        m_fs->WaitForHeldLookup();
        ASSERT_EQ(m_fs->error(), "");

        const pid_t worker = ::fork();
        ASSERT_GE(worker, 0);
        if (worker == 0) {
            RunWorker();
        }
        int status = 0;
        ASSERT_EQ(::waitpid(worker, &status, 0), worker);
        EXPECT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "faults (1 undumpable at start, 2 launch, 4 "
                                             "undumpable after its launch)";
        ReleaseAndFinish(held, how, nobodyIds);
        EXPECT_EQ(DumpableFlag(), 1);
    }
}

// The agent clears its own flag (to keep secrets out of core files) while a launch that
// switches no credentials is held in exec: the kernel leaves the flag alone for such a
// child, and so must the launch once it returns. Root switching to root is no change (the
// service launch without a user names our own).
TEST_F(HeldExec, ALaunchThatChangesNoCredentialsLeavesTheAgentsOwnFlag) {
    std::vector<std::optional<std::string>> users = {std::nullopt};
    if (::geteuid() == 0) {
        users.emplace_back("root");
    }
    for (const std::optional<std::string>& user : users) {
        for (Launch how : kLaunches) {
            SCOPED_TRACE(std::string(ifxtest::LaunchName(how)) + " as " + user.value_or("self"));
            ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
            ifxtest::LaunchArgs args = HeldProgram();
            args.user = user;
            m_fs->HoldNextLookup();
            LaunchOnThread held(how, args);
            m_fs->WaitForHeldLookup();
            ASSERT_EQ(m_fs->error(), "");
            EXPECT_EQ(DumpableFlag(), 1) << "no credential change, no reset by the kernel";
            ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0), 0);
            ReleaseAndFinish(held, how, "");
            EXPECT_EQ(DumpableFlag(), 0) << "the agent's own choice was undone";
        }
    }
    ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
}

}  // namespace
