// How a launch starts its child: sharing the agent's memory, the launching thread waiting
// until the child has executed its program, or forked when IFXLIB_LAUNCH=fork, in
// sanitizer builds, or for a child the sleep marker holds. What the agent must never see
// from a child that shares its memory: its threads' credentials changed, its signal
// handlers run in the child, its signal mask lost on the way to the program.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <cstddef>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "childprocess/ChildTestSupport.h"
#include "support/Sanitizers.h"
#include "support/ScopedEnv.h"
#include "support/SleepMarkerLock.h"
#include "support/SystemCallFailure.h"
#include "support/TempDir.h"

namespace {

using ifxtest::Launch;

const Launch kLaunches[] = {Launch::Direct, Launch::ProcessService};
const char kNoSuchUser[] = "ifxtest-no-such-user";
const char kMarker[] = "/tmp/clifxagentchild.sleep";

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

constexpr bool kSanitizedBuild = ifxtest::kUnderSanitizer;

enum class Engine { SharedMemory, Fork, Unknown };

const char* EngineName(Engine engine) {
    switch (engine) {
        case Engine::SharedMemory:
            return "shared memory";
        case Engine::Fork:
            return "fork";
        case Engine::Unknown:
            break;
    }
    return "unknown";
}

Engine ExpectedEngine(const std::optional<std::string>& setting) {
    if (kSanitizedBuild || (setting && *setting == "fork")) {
        return Engine::Fork;
    }
    return Engine::SharedMemory;
}

std::optional<std::string> CurrentSetting() {
    const char* value = std::getenv("IFXLIB_LAUNCH");
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

pid_t CurrentThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

size_t Digits(long value) {
    return std::to_string(value).size();
}

// A log destination that holds whoever writes to it: a FIFO whose one-page buffer the
// test fills, so that a line written before exec stops the child right there, for as
// long as the test wants.
class HoldingLog {
  public:
    HoldingLog() : m_path(m_dir.file("log")) {
        if (::mkfifo(m_path.c_str(), 0600) == 0) {
            // A reader first, so that opening the FIFO for writing never waits.
            m_reader = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
    }
    ~HoldingLog() {
        if (m_reader >= 0) {
            ::close(m_reader);
        }
    }
    HoldingLog(const HoldingLog&) = delete;
    HoldingLog& operator=(const HoldingLog&) = delete;

    bool ready() const { return m_reader >= 0; }
    const std::string& path() const { return m_path; }

    // Leaves room for exactly room more bytes; any line beyond waits. Pipe writes of up
    // to a page are atomic: a line that does not fit whole waits whole.
    bool Fill(size_t room) {
        const long page = ::sysconf(_SC_PAGESIZE);
        const int writer = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer < 0 || page <= 0 || static_cast<size_t>(page) <= room) {
            return false;
        }
        // One page of buffer: the filler and the lines that fit share it.
        bool filled = ::fcntl(writer, F_SETPIPE_SZ, static_cast<int>(page)) == page;
        const std::string filler(static_cast<size_t>(page) - room, '#');
        filled = filled && ::write(writer, filler.data(), filler.size()) ==
                               static_cast<ssize_t>(filler.size());
        ::close(writer);
        return filled;
    }

    // Empties the FIFO, which lets a held writer go on: the page is only free again once
    // every byte in it (the filler and any line that fitted) has been read.
    void Release() {
        char buffer[4096];
        while (::read(m_reader, buffer, sizeof buffer) > 0 || errno == EINTR) {
        }
    }

  private:
    ifxtest::TempDir m_dir;
    std::string m_path;
    int m_reader = -1;
};

// Which engine a launch used, seen from outside: the child is stopped before exec by its
// first log line; a forked child leaves the launch free to return, a child sharing our
// memory keeps the launching thread inside clone until the test lets the child go on.
// The child fails its user lookup afterwards and ends with 81. (Should the test process
// die meanwhile, the held child stays, every signal but SIGKILL blocked: it keeps a read
// end of the FIFO itself.)
Engine ObserveEngine(Launch how) {
    HoldingLog log;
    if (!log.ready()) {
        ADD_FAILURE() << "no FIFO for the log";
        return Engine::Unknown;
    }
    // The direct child writes through the caller's event; the service child through an
    // event of its own that the launch makes from the environment.
    std::optional<EvEvent> event;
    {
        const ifxtest::ScopedEnv file("JX_LOG_FILE", log.path());
        const ifxtest::ScopedEnv level("JX_DEBUG_LEVEL", std::string("0"));
        event.emplace();
    }
    const ifxtest::ScopedEnv file("JX_LOG_FILE", log.path());
    IfxChildProcess child;
    std::atomic<pid_t> launcher{0};
    std::atomic<bool> returned{false};
    bool filled = false;
    int result = -2;
    std::thread launching([&] {
        const pid_t tid = CurrentThreadId();
        // The direct launch writes "enter" itself before it starts the child: room for
        // that line, none for the child's.
        const size_t enterLine = how == Launch::Direct
                                     ? 27 + Digits(::getpid()) + 1 + Digits(tid) + 1 +
                                           std::strlen("[IfxChildProcess::Initialize] enter\n")
                                     : 0;
        filled = log.Fill(enterLine);
        launcher = tid;
        if (filled) {
            ifxtest::LaunchArgs args;
            args.user = kNoSuchUser;
            args.event = how == Launch::Direct ? &*event : nullptr;
            result = ifxtest::LaunchChild(child, how, args);
        }
        returned = true;
    });
    Engine engine = Engine::Unknown;
    while (engine == Engine::Unknown) {
        const pid_t tid = launcher;
        if (returned) {
            engine = Engine::Fork;
        } else if (tid != 0 && ifxtest::IsBlockedIn(tid, SYS_clone)) {
            engine = Engine::SharedMemory;
        } else if (tid != 0 && ifxtest::IsBlockedIn(tid, SYS_write)) {
            ADD_FAILURE() << "the launching thread's own line did not fit the room left for it";
            break;
        } else {
            ifxtest::PauseBeforeLookingAgain();
        }
    }
    log.Release();
    launching.join();
    EXPECT_TRUE(filled);
    EXPECT_EQ(result, 0);
    if (result == 0) {
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 81);
    }
    child.Finalize();
    return engine;
}

TEST(LaunchEngine, IfxlibLaunchForkForcesTheForkPath) {
    if (!ifxtest::SystemCallNumbersAreOurs()) {
        GTEST_SKIP() << "under user-mode emulation a shared-memory start runs as a plain fork "
                        "and /proc shows the emulator's system-call numbers";
    }
    const ifxtest::SleepMarkerLock markerLock(ifxtest::SleepMarkerLock::Use::kNeedsItAbsent);
    ASSERT_EQ(markerLock.error(), "");
    struct stat marker {};
    if (::lstat(kMarker, &marker) == 0) {
        GTEST_SKIP() << kMarker << " exists; it decides the direct launch's engine";
    }
    struct Case {
        const char* name;
        std::optional<std::string> setting;
    };
    const Case cases[] = {
        {"unset", std::nullopt},
        {"fork", std::string("fork")},
        {"empty", std::string("")},
        {"anything else", std::string("Fork")},
        {"as this run sets it", CurrentSetting()},
    };
    for (Launch how : kLaunches) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(ifxtest::LaunchName(how)) + ", IFXLIB_LAUNCH " + c.name);
            const ifxtest::ScopedEnv setting("IFXLIB_LAUNCH", c.setting);
            EXPECT_STREQ(EngineName(ObserveEngine(how)), EngineName(ExpectedEngine(c.setting)));
        }
    }
}

// Uid, Gid and Groups of every thread of this process, as the kernel shows them.
std::map<pid_t, std::string> ThreadCredentials() {
    std::map<pid_t, std::string> credentials;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) {
        return credentials;
    }
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::istringstream status(
            ifxtest::readFile(std::string("/proc/self/task/") + entry->d_name + "/status"));
        std::string line, wanted;
        while (std::getline(status, line)) {
            if (line.rfind("Uid:", 0) == 0 || line.rfind("Gid:", 0) == 0 ||
                line.rfind("Groups:", 0) == 0) {
                wanted += line + "\n";
            }
        }
        // A thread that ended between the listing and the read shows nothing.
        if (!wanted.empty()) {
            credentials[static_cast<pid_t>(std::stol(entry->d_name))] = wanted;
        }
    }
    ::closedir(tasks);
    return credentials;
}

// The C library's setuid makes every thread of the process change its ids. A child that
// used it while sharing our memory would do that to our threads.
TEST(LaunchEngine, SwitchingTheChildToNobodyLeavesEveryThreadOfTheAgentAsItWas) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    const std::string helper = ifxtest::ChildHelperPathForAnyUser();
    ASSERT_TRUE(ifxtest::ExecutableBy("nobody", helper)) << helper;

    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::vector<std::thread> others;
    for (int i = 0; i < 3; ++i) {
        others.emplace_back([&] {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return stop; });
        });
    }
    const std::string own = ThreadCredentials()[CurrentThreadId()];
    ASSERT_FALSE(own.empty());
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        for (int round = 0; round < 5; ++round) {
            IfxChildProcess child;
            ifxtest::LaunchArgs args;
            args.path = helper;
            args.user = "nobody";
            ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
            EXPECT_EQ(ifxtest::Ask(child, "ids"), ifxtest::ExpectedIdsOf("nobody"));
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
            const std::map<pid_t, std::string> threads = ThreadCredentials();
            EXPECT_GE(threads.size(), others.size() + 1);
            for (const auto& [tid, credentials] : threads) {
                EXPECT_EQ(credentials, own) << "thread " << tid;
            }
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    wake.notify_all();
    for (std::thread& other : others) {
        other.join();
    }
}

int DumpableFlag() {
    return static_cast<int>(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0));
}

// One life of a child that runs as nobody; expectedIds as ExpectedIdsOf("nobody") gives
// them, looked up once (getpwnam is not for concurrent callers).
void LaunchAsNobody(Launch how, const std::string& expectedIds) {
    IfxChildProcess child;
    ifxtest::LaunchArgs args;
    args.path = ifxtest::ChildHelperPathForAnyUser();
    args.user = "nobody";
    ASSERT_EQ(ifxtest::LaunchChild(child, how, args), 0);
    EXPECT_EQ(ifxtest::Ask(child, "ids"), expectedIds);
    child.Finalize();
    EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
}

// A child that shares our memory and switches user makes the kernel clear our dumpable
// flag; once no launch is in flight it must be set again, or a later crash of the agent
// leaves no core file.
TEST(LaunchEngine, TheAgentStaysDumpableAfterLaunchesAsAnotherUser) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    ASSERT_TRUE(ifxtest::ExecutableBy("nobody", ifxtest::ChildHelperPathForAnyUser()));
    ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
    const std::string nobodyIds = ifxtest::ExpectedIdsOf("nobody");
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        LaunchAsNobody(how, nobodyIds);
        EXPECT_EQ(DumpableFlag(), 1) << "after one launch";
    }
    std::vector<std::thread> launchers;
    for (int i = 0; i < 4; ++i) {
        launchers.emplace_back([i, &nobodyIds] {
            for (int round = 0; round < 6; ++round) {
                LaunchAsNobody(kLaunches[(i + round) % 2], nobodyIds);
            }
        });
    }
    for (std::thread& launcher : launchers) {
        launcher.join();
    }
    EXPECT_EQ(DumpableFlag(), 1) << "after concurrent launches";
}

int g_handlerRanInChild[2] = {-1, -1};
pid_t g_agent = 0;

void NoteWhereTheHandlerRuns(int) {
    const int saved = errno;
    if (static_cast<pid_t>(::syscall(SYS_getpid)) != g_agent) {
        const char mark = 'x';
        (void)!::write(g_handlerRanInChild[1], &mark, 1);
    }
    errno = saved;
}

// A handler of ours that ran in a child sharing our memory would run on the child's
// stack with our locks possibly held. Signals rain on the launching thread while it
// launches; not one of them may reach the handler anywhere but here.
TEST(LaunchEngine, ACaughtSignalNeverRunsItsHandlerInAChild) {
    if (kThreadSanitizer) {
        // ThreadSanitizer takes a signal in its own handler and runs ours later, from a
        // queue in the thread's memory; a fork copies that queue, and the child runs a
        // handler for a signal the parent had received.
        GTEST_SKIP() << "ThreadSanitizer runs deferred handlers in forked children";
    }
    ASSERT_EQ(::pipe2(g_handlerRanInChild, O_CLOEXEC | O_NONBLOCK), 0);
    g_agent = ::getpid();
    struct sigaction action {
    }, saved{};
    action.sa_handler = NoteWhereTheHandlerRuns;
    action.sa_flags = SA_RESTART;
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &saved), 0);

    const pid_t launcher = CurrentThreadId();
    std::atomic<bool> done{false};
    std::thread sender([&] {
        sigset_t own;
        sigemptyset(&own);
        sigaddset(&own, SIGUSR1);
        ::pthread_sigmask(SIG_BLOCK, &own, nullptr);
        while (!done) {
            ::syscall(SYS_tgkill, g_agent, launcher, SIGUSR1);
            ::kill(g_agent, SIGUSR1);
            std::this_thread::yield();
        }
    });
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        for (int round = 0; round < 25; ++round) {
            IfxChildProcess child;
            ASSERT_EQ(ifxtest::LaunchChild(child, how, {}), 0);
            // Ending its input ends the helper; no pipe read that a signal could cut short.
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
        }
    }
    done = true;
    sender.join();
    ::sigaction(SIGUSR1, &saved, nullptr);
    char mark = 0;
    EXPECT_EQ(::read(g_handlerRanInChild[0], &mark, 1), -1) << "a handler ran in a child";
    ::close(g_handlerRanInChild[0]);
    ::close(g_handlerRanInChild[1]);
}

// The signal mask a program starts with, from /proc: SigBlk as a number.
unsigned long long BlockedSignalsOf(pid_t pid) {
    std::istringstream status(ifxtest::readFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigBlk:", 0) == 0) {
            return std::stoull(line.substr(7), nullptr, 16);
        }
    }
    return ~0ULL;
}

// The child blocks every signal until exec; the program must get the mask of the thread
// that launched it, not that one and not an empty one.
TEST(LaunchEngine, TheProgramStartsWithTheLaunchingThreadsSignalMask) {
    sigset_t blocked, saved;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    sigaddset(&blocked, SIGTERM);
    const unsigned long long expected = (1ULL << (SIGUSR2 - 1)) | (1ULL << (SIGTERM - 1));
    for (Launch how : kLaunches) {
        SCOPED_TRACE(ifxtest::LaunchName(how));
        ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &saved), 0);
        IfxChildProcess child;
        const int launched = ifxtest::LaunchChild(child, how, {});
        ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
        ASSERT_EQ(launched, 0);
        // Once it answers, the helper runs: the mask is the program's.
        EXPECT_EQ(ifxtest::Ask(child, "echo up"), "up");
        EXPECT_EQ(BlockedSignalsOf(child.m_childpid), expected);
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, how), 0);
    }
}

// Refuses with EPERM a clone whose flags have CLONE_VM and lack CLONE_THREAD: a child that
// would share our memory, while threads (and clone3, whose flags a filter cannot see, which
// pthread_create uses) and fork stay allowed. A policy of that kind exists on real hosts.
bool RefuseSharedMemoryClones() {
    return ifxtest::SystemCallFilter()
               .FailWhenArgumentIs(SYS_clone, 0, CLONE_VM | CLONE_THREAD, CLONE_VM, EPERM)
               .Install() == 0;
}

void EndChildProcess(int code, const char* why) {
    if (why != nullptr) {
        std::fprintf(stderr, "%s\n", why);
    }
    std::fflush(stderr);
    ::_exit(code);
}

void DoNothing(void*) {}

// Runs in a process of its own (the filter cannot be taken back): both launches under a
// policy that refuses the shared-memory start must still start their program, forked.
void LaunchUnderTheFilter() {
    if (!RefuseSharedMemoryClones()) {
        EndChildProcess(2, "cannot install the filter");
    }
    int error = 0;
    const pid_t refused = JxStartChildSharingMemory(DoNothing, nullptr, &error);
    if (refused > 0 || error != EPERM) {
        EndChildProcess(3, "the filter does not refuse the shared-memory start");
    }
    for (Launch how : kLaunches) {
        IfxChildProcess child;
        if (ifxtest::LaunchChild(child, how, {}) != 0) {
            std::fprintf(stderr, "%s failed with %d\n", ifxtest::LaunchName(how),
                         static_cast<int>(child.m_lasterror));
            EndChildProcess(4, nullptr);
        }
        std::string command = "echo forked";
        char answer[64] = {};
        if (child.WriteBuf(command.data()) != 0 || child.ReadBuf(answer, sizeof answer - 1) != 0 ||
            std::string(answer) != "forked\n") {
            EndChildProcess(5, "the child did not answer");
        }
        child.Finalize();
        int raw = 0;
        while (::waitpid(child.m_childpid, &raw, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) {
            EndChildProcess(6, "the child did not end with 0");
        }
    }
    EndChildProcess(0, nullptr);
}

TEST(LaunchEngine, AHostThatRefusesTheSharedMemoryStartGetsForkedChildren) {
    if (kSanitizedBuild) {
        GTEST_SKIP() << "sanitizer builds always fork";
    }
    if (!ifxtest::SystemCallNumbersAreOurs() || ifxtest::kNativeAuditArch == 0) {
        GTEST_SKIP() << "a seccomp filter of this test cannot be installed here";
    }
    // A fresh process that runs this test alone: the filter stays with it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(LaunchUnderTheFilter(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
