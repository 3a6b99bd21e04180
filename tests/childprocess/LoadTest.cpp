// Launches under load, through the public interface only: beside threads that hold the C
// library's locks at random moments, for thousands of cycles in a row, and from many
// threads at once. Each test prints its figures ("[ LOAD     ] ...").

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "childprocess/ChildTestSupport.h"
#include "childprocess/LoadTestSupport.h"
#include "support/LogFile.h"
#include "support/ScopedEnv.h"

namespace {

using ifxtest::HangWatch;
using ifxtest::Launch;

const Launch kLaunches[] = {Launch::Direct, Launch::ProcessService};

// A child not reaped within this time is hung.
constexpr auto kHangLimit = std::chrono::seconds(5);

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Launches under the watch. False, with the failure recorded, when the launch failed.
bool WatchedLaunch(HangWatch& watch, IfxChildProcess& child, Launch how,
                   const ifxtest::LaunchArgs& args, const std::string& what, int& launch) {
    launch = watch.Launching(what);
    if (ifxtest::LaunchChild(child, how, args) != 0) {
        ADD_FAILURE() << what << " failed with m_lasterror " << child.m_lasterror;
        watch.Done(launch);
        return false;
    }
    watch.Launched(launch, child.m_childpid);
    return true;
}

// Threads that keep taking the C library's locks, which a forked child could find held by
// a thread that does not exist in it: malloc, the name service (users and groups), the
// time zone, a shared stdio stream and the environment; and that keep logging through
// the host logger, whose write path a child shares and which must need no lock at all.
class Storm {
  public:
    explicit Storm(int threads) : m_shared(std::fopen("/dev/null", "w")) {
        EXPECT_NE(m_shared, nullptr);
        {
            // Their lines are written in full, to where they cost no disk.
            ifxtest::ScopedEnv quiet("JX_LOG_FILE", std::string("/dev/null"));
            for (int t = 0; t < threads; ++t) {
                m_events.push_back(std::make_unique<EvEvent>());
            }
        }
        // Created before the threads start, so that the storm replaces entries and never
        // grows the environment array under a launch that reads it.
        for (int t = 0; t < threads; ++t) {
            for (int k = 0; k < kNamesPerThread; ++k) {
                m_names.push_back("IFXLOAD_STORM_" + std::to_string(t) + "_" + std::to_string(k));
                EXPECT_EQ(SETENVIRONMENTVARIABLE(m_names.back().c_str(), "start"), 1);
            }
        }
        for (int t = 0; t < threads; ++t) {
            m_threads.emplace_back([this, t] { Run(t); });
        }
    }

    ~Storm() { Stop(); }

    void Stop() {
        m_stop = true;
        for (std::thread& thread : m_threads) {
            thread.join();
        }
        m_threads.clear();
        if (m_shared != nullptr) {
            std::fclose(m_shared);
            m_shared = nullptr;
        }
        for (const std::string& name : m_names) {
            ::unsetenv(name.c_str());
        }
        m_names.clear();
    }

    long Iterations() const { return m_iterations; }
    long Failures() const { return m_failures; }

  private:
    static constexpr int kNamesPerThread = 4;

    void Run(int t) {
        // The storm only has to be there whenever the launching thread forks; at the
        // lowest priority it does not starve the launches themselves.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 19);
        const EvEvent* event = m_events[static_cast<size_t>(t)].get();
        std::vector<char> scratch(16384);
        for (long n = 0; !m_stop; ++n) {
            EvDebug::Debug(event, "LoadStorm", "thread %d iteration %ld", t, n);
            Allocate(n);
            LookUpUsersAndGroups(scratch);
            FormatLocalTime();
            std::fprintf(m_shared, "thread %d iteration %ld\n", t, n);
            const std::string& name = m_names[static_cast<size_t>(t * kNamesPerThread) +
                                              static_cast<size_t>(n % kNamesPerThread)];
            if (SETENVIRONMENTVARIABLE(name.c_str(), std::to_string(n).c_str()) != 1) {
                ++m_failures;
            }
            ++m_iterations;
        }
    }

    static void Allocate(long n) {
        void* blocks[8];
        for (size_t k = 0; k < 8; ++k) {
            const size_t size = size_t{16} << ((static_cast<size_t>(n) + k) % 14);
            blocks[k] = std::malloc(size);
            if (blocks[k] != nullptr) {
                std::memset(blocks[k], static_cast<int>(k), size);
            }
        }
        for (void* block : blocks) {
            std::free(block);
        }
        const std::unique_ptr<std::string> text(new std::string(static_cast<size_t>(n % 200), 'x'));
    }

    void LookUpUsersAndGroups(std::vector<char>& scratch) {
        struct passwd user {};
        struct passwd* foundUser = nullptr;
        if (::getpwnam_r("nobody", &user, scratch.data(), scratch.size(), &foundUser) != 0 ||
            foundUser == nullptr) {
            ++m_failures;
            return;
        }
        gid_t groups[64];
        int count = 64;
        if (::getgrouplist("nobody", user.pw_gid, groups, &count) < 0) {
            ++m_failures;
        }
        struct group group {};
        struct group* foundGroup = nullptr;
        if (::getgrnam_r("root", &group, scratch.data(), scratch.size(), &foundGroup) != 0 ||
            foundGroup == nullptr) {
            ++m_failures;
        }
    }

    void FormatLocalTime() {
        const time_t now = std::time(nullptr);
        struct tm local {};
        char text[64];
        if (::localtime_r(&now, &local) == nullptr ||
            std::strftime(text, sizeof text, "%c %Z", &local) == 0) {
            ++m_failures;
        }
    }

    FILE* m_shared;
    std::vector<std::unique_ptr<EvEvent>> m_events;
    std::vector<std::string> m_names;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_iterations{0};
    std::atomic<long> m_failures{0};
    std::vector<std::thread> m_threads;
};

// 8 threads hold the C library's locks at random moments while the main thread launches:
// with fork, a child is a copy of the launching thread alone, and a lock another thread
// held at that moment stays held in the child for ever. The child must get to exec
// without needing any of them, as another user, with its environment pairs set.
TEST(LoadTest, LaunchesBesideABusyProcessNeverHang) {
    const int perLaunch = ifxtest::Rounds(500, 100);
    const ifxtest::ReachableHelper helper;
    const ifxtest::LoadUser user = ifxtest::ChooseLoadUser(helper.path());
    ifxtest::LogFile log(2);
    EvEvent launchEvent;
    HangWatch watch(log.path(), kHangLimit);
    const auto start = HangWatch::Clock::now();
    Storm storm(8);

    int launched[2] = {0, 0};
    for (int i = 0; i < 2 * perLaunch && watch.Hangs().empty(); ++i) {
        const Launch how = kLaunches[i % 2];
        const std::string token = "token-" + std::to_string(i);
        ifxtest::LaunchArgs args;
        args.path = helper.path();
        args.user = user.name;
        args.envNames = std::vector<std::string>{"IFXLOAD_TOKEN", "IFXLOAD_LAUNCH"};
        args.envValues = std::vector<std::string>{token, ifxtest::LaunchName(how)};
        args.event = &launchEvent;

        IfxChildProcess child;
        int launch = 0;
        const std::string what = std::string(ifxtest::LaunchName(how)) + " #" + std::to_string(i);
        if (!WatchedLaunch(watch, child, how, args, what, launch)) {
            break;
        }
        ++launched[i % 2];
        EXPECT_EQ(ifxtest::Ask(child, "env IFXLOAD_TOKEN"), token) << what;
        EXPECT_EQ(ifxtest::Ask(child, "ids"), user.expectedIds) << what;
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0) << what;
        watch.Done(launch);
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    storm.Stop();

    const std::vector<std::string> hangs = watch.Hangs();
    ifxtest::PrintFigure(
        "storm",
        "launches Initialize=" + std::to_string(launched[0]) +
            " InitializeLinux=" + std::to_string(launched[1]) +
            " user=" + user.name.value_or("(own)") + " hangs=" + std::to_string(hangs.size()) +
            " longest child life=" + ifxtest::Milliseconds(watch.LongestLife()) + " (limit 5 s)" +
            " storm iterations=" + std::to_string(storm.Iterations()) + " in 8 threads" +
            " elapsed=" + ifxtest::Milliseconds(HangWatch::Clock::now() - start));
    EXPECT_TRUE(hangs.empty()) << Joined(hangs);
    EXPECT_EQ(launched[0], perLaunch);
    EXPECT_EQ(launched[1], perLaunch);
    EXPECT_GT(storm.Iterations(), 0);
    EXPECT_EQ(storm.Failures(), 0) << "a storm thread's own call failed";
}

// Whatever a cycle takes, it gives back. The cycles use every path a caller takes to end
// a child: Wait in the caller's thread and, for every other service launch, the wait
// thread that the destructor joins.
TEST(LoadTest, SoakLeavesDescriptorsThreadsZombiesAndHeapWhereTheyStarted) {
    const int cycles = ifxtest::Rounds(2000, 300);
    // The first cycles fill the allocator's caches and load what the name service needs.
    const int warmUp = ifxtest::Rounds(100, 30);
    const ifxtest::ReachableHelper helper;
    const ifxtest::LoadUser user = ifxtest::ChooseLoadUser(helper.path());
    ifxtest::LogFile log(0);
    HangWatch watch(log.path(), kHangLimit);
    int serviceCycles = 0;

    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        EvEvent event;
        auto cycle = [&](int i) {
            const std::string token = std::to_string(i);
            ifxtest::LaunchArgs args;
            args.path = helper.path();
            args.user = user.name;
            args.envNames = std::vector<std::string>{"IFXLOAD_CYCLE"};
            args.envValues = std::vector<std::string>{token};
            args.event = &event;
            const std::string what = std::string(ifxtest::LaunchName(how)) + " cycle " + token;

            int launch = 0;
            bool healthy = false;
            {
                IfxChildProcess child;
                if (!WatchedLaunch(watch, child, how, args, what, launch)) {
                    return false;
                }
                const std::string answer = ifxtest::Ask(child, "env IFXLOAD_CYCLE");
                EXPECT_EQ(answer, token) << what;
                char exitCommand[] = "exit 0";
                healthy = answer == token && child.WriteBuf(exitCommand) == 0;
                if (how == Launch::ProcessService) {
                    ++serviceCycles;
                }
                if (how == Launch::ProcessService && i % 2 == 1) {
                    healthy = child.BeginWait() == 0 && healthy;
                } else {
                    healthy = ifxtest::WaitForStatus(child, how) == 0 && healthy;
                }
                child.Finalize();
            }
            // Only now has the destructor joined a wait thread, which reaps the child.
            watch.Done(launch);
            EXPECT_TRUE(healthy) << what;
            return healthy;
        };

        const auto start = HangWatch::Clock::now();
        int done = 0;
        bool healthy = true;
        for (int i = 0; i < warmUp && healthy; ++i) {
            healthy = cycle(i);
        }
        const ifxtest::ProcessCounts before = ifxtest::CountProcessResources();
        for (int i = warmUp; i < warmUp + cycles && healthy; ++i) {
            healthy = cycle(i);
            ++done;
        }
        const ifxtest::ProcessCounts after = ifxtest::CountProcessResources();

        ifxtest::PrintFigure(
            std::string("soak ") + ifxtest::LaunchName(how),
            "cycles=" + std::to_string(done) + " after " + std::to_string(warmUp) +
                " warm-up, elapsed=" + ifxtest::Milliseconds(HangWatch::Clock::now() - start) +
                "; before: " + ifxtest::Describe(before) + "; after: " + ifxtest::Describe(after));
        ASSERT_TRUE(healthy);
        EXPECT_EQ(done, cycles);
        EXPECT_EQ(after.descriptors, before.descriptors);
        EXPECT_EQ(after.threads, before.threads);
        EXPECT_EQ(after.zombies, 0u);
        // A block lost in every cycle grows the heap by a byte per cycle at the very least
        // (32 bytes with glibc's malloc); the allocator's per-thread caches make the count
        // move by a few hundred bytes either way.
        const long long heapGrowth =
            static_cast<long long>(after.heapInUse) - static_cast<long long>(before.heapInUse);
        EXPECT_LT(heapGrowth, cycles) << "bytes of heap gained over " << cycles << " cycles";
    }
    ifxtest::PrintFigure("soak",
                         "hangs=" + std::to_string(watch.Hangs().size()) +
                             " longest child life=" + ifxtest::Milliseconds(watch.LongestLife()));
    EXPECT_TRUE(watch.Hangs().empty()) << Joined(watch.Hangs());
    // The wait threads reported too: every service launch's wait saw status 0.
    EXPECT_EQ(
        Occurrences(log.text(),
                    "[IfxChildProcess::Wait] WaitForProcessToEnd - JX_IFX_OK; return Code [0]"),
        static_cast<size_t>(serviceCycles));
}

// Eight threads each run their own launch, talk and wait loop. Every answer, environment
// value and exit status must be the thread's own, every child must hold only its three
// standard streams, and an object's output must end with its own child.
TEST(LoadTest, ConcurrentLaunchersNeverCrossOutputStatusOrDescriptors) {
    constexpr int kThreads = 8;
    const int perThread = ifxtest::Rounds(100, 20);
    const ifxtest::ReachableHelper helper;
    const ifxtest::LoadUser user = ifxtest::ChooseLoadUser(helper.path());
    ifxtest::LogFile log(0);
    HangWatch watch(log.path(), kHangLimit);
    const auto start = HangWatch::Clock::now();
    const ifxtest::ProcessCounts before = ifxtest::CountProcessResources();

    std::atomic<int> launched{0};
    std::vector<std::thread> launchers;
    for (int t = 0; t < kThreads; ++t) {
        launchers.emplace_back([&, t] {
            EvEvent event;
            const std::string owner = "thread-" + std::to_string(t);
            const int exitCode = 10 + t;
            for (int i = 0; i < perThread; ++i) {
                const Launch how = kLaunches[(i + t) % 2];
                const std::string token = owner + "-" + std::to_string(i);
                ifxtest::LaunchArgs args;
                args.path = helper.path();
                args.user = user.name;
                args.envNames = std::vector<std::string>{"IFXLOAD_OWNER"};
                args.envValues = std::vector<std::string>{owner};
                args.event = &event;
                const std::string what = std::string(ifxtest::LaunchName(how)) + " " + token;

                IfxChildProcess child;
                int launch = 0;
                if (!WatchedLaunch(watch, child, how, args, what, launch)) {
                    return;
                }
                ++launched;
                EXPECT_EQ(ifxtest::Ask(child, "echo " + token), token);
                EXPECT_EQ(ifxtest::Ask(child, "env IFXLOAD_OWNER"), owner) << what;
                EXPECT_EQ(ifxtest::Ask(child, "fds"), "fds=0,1,2") << what;
                std::string exitCommand = "exit " + std::to_string(exitCode);
                EXPECT_EQ(child.WriteBuf(exitCommand.data()), 0) << what;
                EXPECT_EQ(ifxtest::WaitForStatus(child, how), exitCode) << what;
                if (how == Launch::ProcessService) {
                    EXPECT_EQ(child.m_exitcode, exitCode) << what;
                }
                watch.Done(launch);
                // No other child holds this object's pipe: the output ends with ours.
                char buffer[64];
                EXPECT_EQ(child.ReadBuf(buffer, sizeof buffer), -1) << what << ": " << buffer;
                EXPECT_EQ(child.m_lasterror, 32) << what;
                child.Finalize();
            }
        });
    }
    for (std::thread& launcher : launchers) {
        launcher.join();
    }
    const ifxtest::ProcessCounts after = ifxtest::CountProcessResources();

    ifxtest::PrintFigure(
        "concurrent launchers",
        "threads=" + std::to_string(kThreads) + " launches=" + std::to_string(launched.load()) +
            " hangs=" + std::to_string(watch.Hangs().size()) +
            " longest child life=" + ifxtest::Milliseconds(watch.LongestLife()) +
            " elapsed=" + ifxtest::Milliseconds(HangWatch::Clock::now() - start) +
            "; before: " + ifxtest::Describe(before) + "; after: " + ifxtest::Describe(after));
    EXPECT_EQ(launched.load(), kThreads * perThread);
    EXPECT_TRUE(watch.Hangs().empty()) << Joined(watch.Hangs());
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.zombies, 0u);
}

}  // namespace
