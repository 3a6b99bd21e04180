// Children started in the parent's memory: what they start with, what they leave behind
// in the parent, and how they end. Child bodies report through exit codes and pipes only,
// as the rules for a body demand.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <IfxLib/platform/HostServices.h>
#include <JxLib/JxChildStart.h>

#include "support/TempDir.h"

extern char** environ;

namespace {

// The programs the children run: the tests' child helper, in its modes that stand in for
// true, false and grep, so that these tests need no program of the system.
const char kHelper[] = IFXTEST_CHILD_HELPER;
char* const kTrueArgv[] = {const_cast<char*>(kHelper), const_cast<char*>("--exit"),
                           const_cast<char*>("0"), nullptr};
char* const kFalseArgv[] = {const_cast<char*>(kHelper), const_cast<char*>("--exit"),
                            const_cast<char*>("1"), nullptr};
const char kMissing[] = "/nonexistent/ifxtest-no-such-program";

// The kernel's view of a signal mask on the 64-bit machines we test on: bit n - 1 for
// signal n.
using KernelMask = std::uint64_t;
constexpr KernelMask kEverySignal = ~KernelMask{0};

KernelMask bitOf(int signal) {
    return KernelMask{1} << (signal - 1);
}

// Raw, so that glibc's own signals are seen as well.
KernelMask currentMask() {
    KernelMask mask = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_BLOCK, nullptr, &mask, sizeof mask);
    return mask;
}

// What asking to block every signal gives here: the kernel leaves out SIGKILL and
// SIGSTOP, and an emulator (qemu-user) the signals it keeps for itself.
KernelMask everyBlockableSignal() {
    KernelMask old = 0;
    KernelMask granted = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &kEverySignal, &old, sizeof old);
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &old, &granted, sizeof old);
    return granted;
}

// Exit code of a child, or 128 plus the signal that ended it.
int waitForStatus(pid_t pid) {
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &raw, 0);
    } while (result < 0 && errno == EINTR);
    if (result != pid) {
        return -1;
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

class Pipe {
  public:
    Pipe() {
        // Close-on-exec: children of other threads must not keep our write end open.
        if (::pipe2(m_fds, O_CLOEXEC) != 0) {
            m_fds[0] = m_fds[1] = -1;
        }
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool ok() const { return m_fds[0] >= 0; }
    int read() const { return m_fds[0]; }
    int write() const { return m_fds[1]; }
    void closeRead() { closeEnd(0); }
    void closeWrite() { closeEnd(1); }

    // Everything until every write end is closed.
    std::string readAll() const {
        std::string text;
        char buffer[512];
        for (;;) {
            const ssize_t n = ::read(m_fds[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return text;
            }
            text.append(buffer, static_cast<size_t>(n));
        }
    }

  private:
    void closeEnd(int end) {
        if (m_fds[end] >= 0) {
            ::close(m_fds[end]);
            m_fds[end] = -1;
        }
    }
    int m_fds[2];
};

// A program and its argument vector, made in the parent for a child to execute with its
// standard output on a pipe.
struct ExecRequest {
    const char* path;
    char* const* argv;
    char* const* envp;
    int output;  // becomes descriptor 1; -1 keeps the parent's
};

[[noreturn]] void execOrExit(const ExecRequest& request, int failureCode) {
    if (request.output >= 0 && ::dup2(request.output, STDOUT_FILENO) < 0) {
        ::_exit(failureCode);
    }
    JxExecChild(request.path, request.argv, request.envp);
    ::_exit(failureCode);
}

void runProgram(void* argument) {
    execOrExit(*static_cast<const ExecRequest*>(argument), 70);
}

// Lines "Name:\t..." of a /proc status file whose name is one of names, in file order.
std::string statusLines(const std::string& statusPath, const std::vector<std::string>& names) {
    std::ifstream file(statusPath);
    std::string line;
    std::string picked;
    while (std::getline(file, line)) {
        for (const std::string& name : names) {
            if (line.rfind(name + ":", 0) == 0) {
                picked += line + "\n";
            }
        }
    }
    return picked;
}

// Uid, Gid and Groups of every thread of this process, by thread id. A thread that
// pthread_join has already returned for may still be listed while the kernel finishes it,
// and be gone when its status is read: such a thread is left out, not counted as empty.
std::map<std::string, std::string> credentialsOfEveryThread() {
    std::map<std::string, std::string> byThread;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) {
        return byThread;
    }
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] != '.') {
            std::string credentials =
                statusLines(std::string("/proc/self/task/") + entry->d_name + "/status",
                            {"Uid", "Gid", "Groups"});
            if (!credentials.empty()) {
                byThread[entry->d_name] = std::move(credentials);
            }
        }
    }
    ::closedir(tasks);
    return byThread;
}

std::string currentThreadId() {
    return std::to_string(static_cast<long>(::syscall(SYS_gettid)));
}

size_t countOpenDescriptors() {
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        ::closedir(dir);
    }
    return count;
}

size_t countMappings() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    size_t count = 0;
    while (std::getline(maps, line)) {
        ++count;
    }
    return count;
}

// Puts a signal's disposition back at the end of a test.
class ScopedDisposition {
  public:
    ScopedDisposition(int signal, void (*handler)(int)) : m_signal(signal) {
        struct sigaction wanted {};
        wanted.sa_handler = handler;
        sigemptyset(&wanted.sa_mask);
        ::sigaction(signal, &wanted, &m_saved);
    }
    ~ScopedDisposition() { ::sigaction(m_signal, &m_saved, nullptr); }
    ScopedDisposition(const ScopedDisposition&) = delete;
    ScopedDisposition& operator=(const ScopedDisposition&) = delete;

  private:
    int m_signal;
    struct sigaction m_saved {};
};

// Blocks exactly the given signals in the calling thread and puts its mask back after.
class ScopedThreadMask {
  public:
    explicit ScopedThreadMask(const std::vector<int>& signals) {
        sigset_t wanted;
        sigemptyset(&wanted);
        for (int signal : signals) {
            sigaddset(&wanted, signal);
        }
        ::pthread_sigmask(SIG_SETMASK, &wanted, &m_saved);
    }
    ~ScopedThreadMask() { ::pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }
    ScopedThreadMask(const ScopedThreadMask&) = delete;
    ScopedThreadMask& operator=(const ScopedThreadMask&) = delete;

  private:
    sigset_t m_saved{};
};

// The sanitizers keep per-thread state that a child running on the calling thread's TLS,
// in its memory and on a stack they never saw, misreads or corrupts. The sanitizer builds
// are to start children with fork; these tests run in the plain build.
#if defined(__SANITIZE_ADDRESS__)
#define IFXTEST_CHILD_START_UNFOLLOWABLE                                               \
    "AddressSanitizer cannot follow a child on a stack it never saw: stale shadow of " \
    "earlier children's stacks gives false stack-buffer-overflow reports in the child"
#elif defined(__SANITIZE_THREAD__)
#define IFXTEST_CHILD_START_UNFOLLOWABLE                                                 \
    "ThreadSanitizer's clone interceptor does its fork bookkeeping in the child, which " \
    "here is the parent's memory: the parent then counts as a forked child and dies "    \
    "at its next new thread"
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define IFXTEST_CHILD_START_UNFOLLOWABLE \
    "AddressSanitizer and ThreadSanitizer cannot follow a child in the parent's memory"
#endif
#endif

class JxChildStartTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef IFXTEST_CHILD_START_UNFOLLOWABLE
        GTEST_SKIP() << IFXTEST_CHILD_START_UNFOLLOWABLE;
#endif
#ifdef IFXTEST_UNDER_EMULATOR
        GTEST_SKIP() << "under user-mode emulation the start runs as a plain fork, and the "
                        "emulator's own threads and signals show in what these tests observe";
#endif
    }
};

TEST_F(JxChildStartTest, RawIdChangeInTheChildLeavesEveryThreadOfTheParentAsItWas) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "switching a child to another user needs root";
    }
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const std::string own = statusLines("/proc/self/status", {"Uid", "Gid", "Groups"});
    // nobody runs the helper: a copy in a directory anyone may enter, wherever the build
    // tree is.
    ifxtest::TempDir reachable;
    const std::string helper = reachable.file("ifxtest_child_helper");
    {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::permissions(reachable.path(), fs::perms(0755), error);
        ASSERT_FALSE(error) << error.message();
        ASSERT_TRUE(fs::copy_file(kHelper, helper, error)) << error.message();
    }

    // Threads that only exist while the children change user: theirs must not move.
    std::mutex mutex;
    std::condition_variable released;
    bool done = false;
    std::vector<std::string> idleIds;
    std::vector<std::thread> idle;
    for (int i = 0; i < 2; ++i) {
        idle.emplace_back([&] {
            std::unique_lock<std::mutex> lock(mutex);
            idleIds.push_back(currentThreadId());
            released.notify_all();
            released.wait(lock, [&] { return done; });
        });
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return idleIds.size() == idle.size(); });
    }

    struct SwitchRequest {
        gid_t gid;
        uid_t uid;
        ExecRequest exec;
    };
    auto switchAndRun = [](void* argument) {
        const SwitchRequest* request = static_cast<const SwitchRequest*>(argument);
        if (::syscall(SYS_setgroups, 1, &request->gid) != 0) {
            ::_exit(91);
        }
        if (::syscall(SYS_setgid, request->gid) != 0) {
            ::_exit(92);
        }
        if (::syscall(SYS_setuid, request->uid) != 0) {
            ::_exit(93);
        }
        execOrExit(request->exec, 94);
    };

    // Launches from several threads at once, each on its own stack.
    const std::string id = std::to_string(uid);
    const std::string group = std::to_string(gid);
    const std::string expected = "Uid:\t" + id + "\t" + id + "\t" + id + "\t" + id + "\nGid:\t" +
                                 group + "\t" + group + "\t" + group + "\t" + group +
                                 "\nGroups:\t" + group + " \n";
    std::vector<std::thread> launchers;
    for (int t = 0; t < 3; ++t) {
        launchers.emplace_back([&] {
            const char* argv[] = {helper.c_str(), "--status", "Uid", "Gid", "Groups", nullptr};
            for (int i = 0; i < 10; ++i) {
                Pipe output;
                ASSERT_TRUE(output.ok());
                SwitchRequest request{
                    gid,
                    uid,
                    {helper.c_str(), const_cast<char* const*>(argv), environ, output.write()}};
                JxProcess process;
                std::string error;
                ASSERT_TRUE(process.Spawn(switchAndRun, &request, &error)) << error;
                output.closeWrite();
                EXPECT_EQ(output.readAll(), expected);
                int status = -1;
                ASSERT_TRUE(process.WaitForProcessToEnd(&status, &error, -1)) << error;
                EXPECT_EQ(status, 0);
            }
            // The thread that started the children is the one most exposed.
            EXPECT_EQ(statusLines("/proc/thread-self/status", {"Uid", "Gid", "Groups"}), own);
        });
    }
    for (std::thread& launcher : launchers) {
        launcher.join();
    }

    // This thread and the idle ones are there for sure; the launchers, joined, may still
    // be listed while they finish. Every thread that can be read must be as it was.
    const std::map<std::string, std::string> threads = credentialsOfEveryThread();
    std::vector<std::string> expectedThreads = idleIds;
    expectedThreads.push_back(currentThreadId());
    for (const std::string& tid : expectedThreads) {
        EXPECT_EQ(threads.count(tid), 1u) << "thread " << tid << " is missing";
    }
    for (const auto& [tid, credentials] : threads) {
        SCOPED_TRACE("thread " + tid);
        EXPECT_EQ(credentials, own);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    released.notify_all();
    for (std::thread& thread : idle) {
        thread.join();
    }
}

struct SignalStateRequest {
    int caught;
    int ignored;
    int untouched;
    KernelMask everyBlockable;
};

// What the body itself sees. Exit codes: 0 all as expected, 10 the mask, 11 a caught
// signal kept its handler, 12 an ignored one lost SIG_IGN, 13 a default one changed,
// 14 a failed exec did not report ENOENT, 15 the mask was not full again after it.
void checkOwnSignalState(void* argument) {
    const SignalStateRequest* request = static_cast<const SignalStateRequest*>(argument);
    if (currentMask() != request->everyBlockable) {
        ::_exit(10);
    }
    struct sigaction seen {};
    if (::sigaction(request->caught, nullptr, &seen) != 0 || seen.sa_handler != SIG_DFL) {
        ::_exit(11);
    }
    if (::sigaction(request->ignored, nullptr, &seen) != 0 || seen.sa_handler != SIG_IGN) {
        ::_exit(12);
    }
    if (::sigaction(request->untouched, nullptr, &seen) != 0 || seen.sa_handler != SIG_DFL) {
        ::_exit(13);
    }
    char* const argv[] = {const_cast<char*>(kMissing), nullptr};
    char* const envp[] = {nullptr};
    if (JxExecChild(kMissing, argv, envp) != -1 || errno != ENOENT) {
        ::_exit(14);
    }
    ::_exit(currentMask() == request->everyBlockable ? 0 : 15);
}

void recordNothing(int) {}

TEST_F(JxChildStartTest, BodyRunsWithEverySignalBlockedAndNoHandlerOfTheParent) {
    const int realtime = SIGRTMIN + 1;
    ScopedDisposition caught(realtime, recordNothing);
    ScopedDisposition ignored(SIGUSR2, SIG_IGN);
    ScopedDisposition untouched(SIGTERM, SIG_DFL);
    ScopedThreadMask callerMask({SIGTERM});
    SignalStateRequest request{realtime, SIGUSR2, SIGTERM, everyBlockableSignal()};

    int error = 0;
    const pid_t pid = JxStartChildSharingMemory(checkOwnSignalState, &request, &error);
    ASSERT_GT(pid, 0) << std::strerror(error);
    EXPECT_EQ(waitForStatus(pid), 0);
    // The parent keeps its handler and gets its own mask back.
    struct sigaction seen {};
    ASSERT_EQ(::sigaction(realtime, nullptr, &seen), 0);
    EXPECT_EQ(seen.sa_handler, recordNothing);
    EXPECT_EQ(currentMask(), bitOf(SIGTERM));
}

TEST_F(JxChildStartTest, ProgramStartsWithTheSignalMaskOfTheCallingThread) {
    struct Case {
        const char* name;
        std::vector<int> blocked;
    };
    const Case cases[] = {
        {"nothing blocked", {}},
        {"one signal", {SIGUSR2}},
        {"several, one of them real-time", {SIGINT, SIGTERM, SIGCHLD, SIGRTMIN + 3}},
    };
    const char* argv[] = {kHelper, "--status", "SigBlk", nullptr};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedThreadMask callerMask(c.blocked);
        KernelMask expected = 0;
        for (int signal : c.blocked) {
            expected |= bitOf(signal);
        }
        Pipe output;
        ASSERT_TRUE(output.ok());
        ExecRequest request{kHelper, const_cast<char* const*>(argv), environ, output.write()};
        int error = 0;
        const pid_t pid = JxStartChildSharingMemory(runProgram, &request, &error);
        ASSERT_GT(pid, 0) << std::strerror(error);
        output.closeWrite();
        const std::string line = output.readAll();
        EXPECT_EQ(waitForStatus(pid), 0);
        ASSERT_EQ(line.rfind("SigBlk:\t", 0), 0u) << line;
        EXPECT_EQ(std::stoull(line.substr(8), nullptr, 16), expected) << line;
        EXPECT_EQ(currentMask(), expected);
    }
}

// A signal sent to the child while its body runs, and the same signal delivered to the
// parent. The handler notes the process it runs in; it must only ever be the parent.
std::atomic<int> g_handled{0};
std::atomic<pid_t> g_handledElsewhere{0};

void notePid(int) {
    const auto pid = static_cast<pid_t>(::syscall(SYS_getpid));
    if (pid == static_cast<pid_t>(::getpid())) {
        g_handled.fetch_add(1);
    } else {
        g_handledElsewhere.store(pid);
    }
}

struct HandshakeRequest {
    int announce;  // the body writes its process id here
    int proceed;   // and waits for one byte from here
    ExecRequest exec;
};

void announceWaitAndRun(void* argument) {
    const HandshakeRequest* request = static_cast<const HandshakeRequest*>(argument);
    const auto self = static_cast<pid_t>(::syscall(SYS_getpid));
    if (::write(request->announce, &self, sizeof self) != static_cast<ssize_t>(sizeof self)) {
        ::_exit(71);
    }
    char go = 0;
    if (::read(request->proceed, &go, 1) != 1) {
        ::_exit(72);
    }
    execOrExit(request->exec, 73);
}

TEST_F(JxChildStartTest, SignalArrivingWhileTheBodyRunsNeverRunsAParentHandlerInTheChild) {
    struct Case {
        const char* name;
        int signal;
        bool callerBlocks;
        int expectedStatus;
    };
    const Case cases[] = {
        // Pending until the mask goes back, then its default action ends the child.
        {"terminating signal", SIGUSR1, false, 128 + SIGUSR1},
        // Its default is to be discarded: the program runs.
        {"signal ignored by default", SIGWINCH, false, 0},
        // Still blocked in the program, as the caller had it; the program runs.
        {"signal the caller blocks", SIGUSR1, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedDisposition handler(c.signal, notePid);
        ScopedThreadMask callerMask(c.callerBlocks ? std::vector<int>{c.signal}
                                                   : std::vector<int>{});
        g_handled = 0;
        g_handledElsewhere = 0;
        Pipe announce;
        Pipe proceed;
        ASSERT_TRUE(announce.ok() && proceed.ok());

        // Another thread of the parent sends the signal to the child and to itself, then
        // lets the child go on.
        std::thread signaller([&] {
            // Created while the caller may block the signal; this thread must not.
            sigset_t own;
            sigemptyset(&own);
            sigaddset(&own, c.signal);
            ::pthread_sigmask(SIG_UNBLOCK, &own, nullptr);
            pid_t child = 0;
            if (::read(announce.read(), &child, sizeof child) ==
                static_cast<ssize_t>(sizeof child)) {
                ::kill(child, c.signal);
                ::raise(c.signal);  // this thread does not block it: handled before raise returns
            }
            const char go = 1;
            (void)!::write(proceed.write(), &go, 1);
        });
        HandshakeRequest request{
            announce.write(), proceed.read(), {kHelper, kTrueArgv, environ, -1}};
        int error = 0;
        const pid_t pid = JxStartChildSharingMemory(announceWaitAndRun, &request, &error);
        signaller.join();
        ASSERT_GT(pid, 0) << std::strerror(error);
        EXPECT_EQ(waitForStatus(pid), c.expectedStatus);
        EXPECT_EQ(g_handled.load(), 1);
        EXPECT_EQ(g_handledElsewhere.load(), 0);
    }
}

// Bodies for the status table; each reads what it needs from its argument.
void exitWithCode(void* code) {
    ::_exit(*static_cast<const int*>(code));
}
void returnAtOnce(void*) {}
void killOwnProcess(void*) {
    ::syscall(SYS_kill, ::syscall(SYS_getpid), SIGKILL);
}
void execMissingProgram(void*) {
    char* const argv[] = {const_cast<char*>(kMissing), nullptr};
    char* const envp[] = {nullptr};
    JxExecChild(kMissing, argv, envp);
    ::_exit(errno == ENOENT ? 79 : 1);
}
void execWithoutEnvironment(void*) {
    JxExecChild(kHelper, kTrueArgv, nullptr);
    ::_exit(errno == EINVAL ? 78 : 1);
}

// The same table through both ways of starting a child: a body that keeps the rules of
// Spawn works under Fork too.
TEST_F(JxChildStartTest, StatusesThroughTheProcessServiceForSpawnAndFork) {
    ExecRequest runTrue{kHelper, kTrueArgv, environ, -1};
    ExecRequest runFalse{kHelper, kFalseArgv, environ, -1};
    int code81 = 81;
    struct Case {
        const char* name;
        void (*body)(void*);
        void* argument;
        int expected;
    };
    const Case cases[] = {
        {"program exits 0", runProgram, &runTrue, 0},
        {"program exits 1", runProgram, &runFalse, 1},
        {"body exits 81", exitWithCode, &code81, 81},
        {"body returns", returnAtOnce, nullptr, 127},
        {"exec fails", execMissingProgram, nullptr, 79},
        {"exec without environment", execWithoutEnvironment, nullptr, 78},
        {"killed by a signal", killOwnProcess, nullptr, 128 + SIGKILL},
    };
    using Start = bool (JxProcess::*)(void (*)(void*), void*, std::string*);
    const std::pair<const char*, Start> starts[] = {{"Spawn", &JxProcess::Spawn},
                                                    {"Fork", &JxProcess::Fork}};
    for (const auto& [startName, start] : starts) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(startName) + ": " + c.name);
            JxProcess process;
            std::string error;
            errno = EDOM;
            ASSERT_TRUE((process.*start)(c.body, c.argument, &error)) << error;
            EXPECT_EQ(errno, EDOM);  // not what the child left in its (shared) errno
            EXPECT_GT(process.GetChildPid(), 0);
            int status = -1;
            ASSERT_TRUE(process.WaitForProcessToEnd(&status, &error, -1)) << error;
            EXPECT_EQ(status, c.expected);
        }
    }
}

// Code that must not allocate in a child sharing its parent's memory asks the host; the
// answer is the exit code: 1 for "sharing", 0 for "not".
void exitWithTheAnswer(void*) {
    ::_exit(JxRunningInChildSharingMemory() ? 1 : 0);
}

TEST_F(JxChildStartTest, OnlyAChildStartedSharingMemoryKnowsItself) {
    EXPECT_FALSE(JxRunningInChildSharingMemory()) << "in the parent";
    using Start = bool (JxProcess::*)(void (*)(void*), void*, std::string*);
    const struct {
        const char* name;
        Start start;
        int expected;
    } starts[] = {{"Spawn", &JxProcess::Spawn, 1}, {"Fork", &JxProcess::Fork, 0}};
    for (const auto& c : starts) {
        SCOPED_TRACE(c.name);
        JxProcess process;
        std::string error;
        ASSERT_TRUE((process.*c.start)(exitWithTheAnswer, nullptr, &error)) << error;
        int status = -1;
        ASSERT_TRUE(process.WaitForProcessToEnd(&status, &error, -1)) << error;
        EXPECT_EQ(status, c.expected);
        EXPECT_FALSE(JxRunningInChildSharingMemory()) << "in the parent afterwards";
    }
}

TEST_F(JxChildStartTest, SpawnRefusesLikeFork) {
    JxProcess process;
    std::string error;
    EXPECT_FALSE(process.Spawn(nullptr, nullptr, &error));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(error, "no callback");
    EXPECT_EQ(process.GetChildPid(), 0);

    int code = 0;
    ASSERT_TRUE(process.Spawn(exitWithCode, &code, &error)) << error;
    EXPECT_FALSE(process.Spawn(exitWithCode, &code, &error));
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(error, "this object already started a child");
    int status = -1;
    ASSERT_TRUE(process.WaitForProcessToEnd(&status, &error, -1)) << error;
    EXPECT_EQ(status, 0);

    errno = 0;
    int reason = 0;
    EXPECT_EQ(JxStartChildSharingMemory(nullptr, nullptr, &reason), -1);
    EXPECT_EQ(reason, EINVAL);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(JxChildStartTest, ManyStartsLeaveNoDescriptorMappingOrChildBehind) {
    ExecRequest runTrue{kHelper, kTrueArgv, environ, -1};
    int code = 0;
    auto startAndWait = [&](void (*body)(void*), void* argument) {
        int error = 0;
        const pid_t pid = JxStartChildSharingMemory(body, argument, &error);
        ASSERT_GT(pid, 0) << std::strerror(error);
        EXPECT_EQ(waitForStatus(pid), 0);
    };
    startAndWait(runProgram, &runTrue);  // lets the C library settle what it maps once
    const size_t descriptors = countOpenDescriptors();
    const size_t mappings = countMappings();
    for (int i = 0; i < 100; ++i) {
        startAndWait(runProgram, &runTrue);
        startAndWait(exitWithCode, &code);
    }

    // A start that cannot map its stack fails with the system's reason, and no child.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
    struct rlimit tight = saved;
    tight.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &tight), 0);
    int error = 0;
    const pid_t refused = JxStartChildSharingMemory(exitWithCode, &code, &error);
    const int reason = errno;
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &saved), 0);
    EXPECT_EQ(refused, -1);
    EXPECT_EQ(error, ENOMEM);
    EXPECT_EQ(reason, ENOMEM);

    EXPECT_EQ(countOpenDescriptors(), descriptors);
    EXPECT_EQ(countMappings(), mappings);
    int raw = 0;
    EXPECT_EQ(::waitpid(-1, &raw, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
