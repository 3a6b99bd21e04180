// One child's life: launch, one command answered over the pipes, end of input, wait.
//
// Descriptor-limit axis: our two launches against posix_spawn + waitpid doing the same,
// at the default descriptor limit (argument 0), with the soft limit as high as the hard
// limit allows (argument 1; with CAP_SYS_RESOURCE the hard limit is first raised to
// fs.nr_open), and lowered to 1024 (argument 2): the cost of a launch must not follow the
// limit. The counter "nofile" shows the soft limit in force.
//
// Older kernels: with IFXBENCH_FAIL_CLOSE_RANGE=<errno> (38 ENOSYS as before 5.9, 22 EINVAL
// as 5.9 and 5.10) close_range fails for the whole run, through a seccomp filter, and the
// child finds its descriptors without it. Compare such a run's /1 rows, at the hard limit,
// with a plain run's: the counter "close_range" is 0 in the first. Running the benchmark
// under a view of an older kernel (build/default/tests/support/ifxtest-kernel-view 5.4 --
// bench_childprocess ...) compares the same way; the counter then stays 1.
//
// Parent-size axis (BM_ParentSize/<launch>/<MiB>): the same life with the parent holding
// 0, 512 and 2048 MiB of touched memory, for posix_spawn + waitpid, our two launches, and
// JxStartChildSharingMemory + JxExecChild of the same program + waitpid, and our two
// launches once more forced onto the fork path (IFXLIB_LAUNCH=fork, the *Forked rows). A
// fork copies the page tables of all that memory; the others must not care. The memory is allocated
// and touched once per process and only grows, so the benchmarks are registered smallest
// size first; run them in that order (no random interleaving). The counter "parent_mib"
// shows the size in force.

#include <benchmark/benchmark.h>

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>
#include <JxLib/JxChildStart.h>

#include <IfxLib/platform/NewerSystemCalls.h>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

const char kCommand[] = "echo x";

enum LimitMode { kDefaultLimit = 0, kRaisedLimit = 1, kLoweredLimit = 2 };
constexpr rlim_t kLoweredSoftLimit = 1024;

// Lets a benchmark run at another descriptor limit and puts the old one back.
class DescriptorLimit {
  public:
    explicit DescriptorLimit(int64_t mode) {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        struct rlimit wanted = m_saved;
        if (mode == kLoweredLimit) {
            wanted.rlim_cur = kLoweredSoftLimit;
            ::setrlimit(RLIMIT_NOFILE, &wanted);
        } else if (mode == kRaisedLimit) {
            wanted.rlim_max = std::max(m_saved.rlim_max, systemMaximum());
            wanted.rlim_cur = wanted.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &wanted) != 0) {
                // Raising the hard limit needs CAP_SYS_RESOURCE; the soft one does not.
                wanted.rlim_max = m_saved.rlim_max;
                wanted.rlim_cur = wanted.rlim_max;
                ::setrlimit(RLIMIT_NOFILE, &wanted);
            }
        }
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }
    static long current() {
        struct rlimit now {};
        ::getrlimit(RLIMIT_NOFILE, &now);
        return static_cast<long>(now.rlim_cur);
    }

  private:
    static rlim_t systemMaximum() {
        rlim_t value = 1048576;
        if (FILE* file = std::fopen("/proc/sys/fs/nr_open", "r")) {
            unsigned long read = 0;
            if (std::fscanf(file, "%lu", &read) == 1) {
                value = read;
            }
            std::fclose(file);
        }
        return value;
    }
    struct rlimit m_saved {};
};

// Makes close_range fail with the errno IFXBENCH_FAIL_CLOSE_RANGE names, for this process
// and its children, as on an older kernel; true when it does.
bool failCloseRangeAsAskedFor() {
    const char* wanted = std::getenv("IFXBENCH_FAIL_CLOSE_RANGE");
    if (wanted == nullptr || *wanted == '\0') {
        return false;
    }
    const unsigned error = static_cast<unsigned>(std::atoi(wanted));
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(ifxlib::syscalls::kCloseRange), 0,
                 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (error & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog filter{sizeof program / sizeof program[0], program};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
        std::perror("IFXBENCH_FAIL_CLOSE_RANGE: no seccomp filter");
        std::exit(1);
    }
    return true;
}
const bool g_closeRangeFails = failCloseRangeAsAskedFor();

// The child's log lines go to a file, as in the agent, not to the terminal.
class BenchLog {
  public:
    BenchLog()
        : m_path((std::filesystem::temp_directory_path() /
                  ("ifxbench-child-" + std::to_string(::getpid())))
                     .string()) {
        ::setenv("JX_LOG_FILE", m_path.c_str(), 1);
        ::setenv("JX_DEBUG_LEVEL", "0", 1);
    }
    ~BenchLog() {
        ::unsetenv("JX_LOG_FILE");
        std::filesystem::remove(m_path);
    }

  private:
    std::string m_path;
};

// CPU time of the reaped children, which a loaded machine distorts far less than the
// wall-clock time of a launch.
double childrenCpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void reportCounters(benchmark::State& state, double childrenCpuBefore) {
    state.counters["nofile"] = static_cast<double>(DescriptorLimit::current());
    state.counters["close_range"] = g_closeRangeFails ? 0 : 1;
    state.counters["child_cpu_us"] = benchmark::Counter(
        (childrenCpuSeconds() - childrenCpuBefore) * 1e6, benchmark::Counter::kAvgIterations);
}

bool readAnswer(IfxChildProcess& child) {
    char buffer[64];
    std::string answer;
    while (answer.find('\n') == std::string::npos) {
        if (child.ReadBuf(buffer, sizeof buffer - 1) != 0) {
            return false;
        }
        answer += buffer;
    }
    return true;
}

std::string ownUserName() {
    const struct passwd* own = ::getpwuid(::getuid());
    return own != nullptr ? own->pw_name : "";
}

// One life through InitializeLinux, waited for with Wait.
bool initializeLinuxRoundTrip(std::string& path, std::string& user) {
    IfxChildProcess child;
    std::string command = kCommand;
    if (child.InitializeLinux(path.data(), nullptr, user.data(), nullptr, nullptr, nullptr, false,
                              false, false, nullptr) != 0 ||
        child.WriteBuf(command.data()) != 0 || !readAnswer(child)) {
        return false;
    }
    child.Finalize();
    return child.Wait(0) == 0;
}

// One life through Initialize, waited for with waitpid (the direct launch has no process
// service to wait with).
bool initializeRoundTrip(std::string& path, EvEvent& event) {
    IfxChildProcess child;
    std::string command = kCommand;
    if (child.Initialize(path.data(), nullptr, nullptr, nullptr, nullptr, &event, false, false,
                         false, nullptr) != 0 ||
        child.WriteBuf(command.data()) != 0 || !readAnswer(child)) {
        return false;
    }
    child.Finalize();
    int raw = 0;
    while (::waitpid(child.m_childpid, &raw, 0) < 0 && errno == EINTR) {
    }
    return true;
}

void BM_InitializeLinux(benchmark::State& state) {
    DescriptorLimit limit(state.range(0));
    const double childrenCpuBefore = childrenCpuSeconds();
    BenchLog log;
    std::string path = IFXBENCH_CHILD_HELPER;
    std::string user = ownUserName();
    for (auto _ : state) {
        if (!initializeLinuxRoundTrip(path, user)) {
            state.SkipWithError("launch, round trip or child failed");
            break;
        }
    }
    reportCounters(state, childrenCpuBefore);
}
BENCHMARK(BM_InitializeLinux)
    ->Arg(kDefaultLimit)
    ->Arg(kRaisedLimit)
    ->Arg(kLoweredLimit)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_Initialize(benchmark::State& state) {
    DescriptorLimit limit(state.range(0));
    const double childrenCpuBefore = childrenCpuSeconds();
    BenchLog log;
    EvEvent event;
    std::string path = IFXBENCH_CHILD_HELPER;
    for (auto _ : state) {
        if (!initializeRoundTrip(path, event)) {
            state.SkipWithError("launch or round trip failed");
            break;
        }
    }
    reportCounters(state, childrenCpuBefore);
}
BENCHMARK(BM_Initialize)
    ->Arg(kDefaultLimit)
    ->Arg(kRaisedLimit)
    ->Arg(kLoweredLimit)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The same life with posix_spawn and waitpid, nothing of ours in between.
bool spawnRoundTripAndWait(const char* path) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 2);
    char* argv[] = {const_cast<char*>(path), nullptr};
    pid_t pid = 0;
    const bool spawned = ::posix_spawn(&pid, path, &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    bool answered = spawned && ::write(toChild[1], kCommand, sizeof kCommand) ==
                                   static_cast<ssize_t>(sizeof kCommand);
    char buffer[64];
    std::string answer;
    while (answered && answer.find('\n') == std::string::npos) {
        const ssize_t n = ::read(fromChild[0], buffer, sizeof buffer);
        answered = n > 0;
        if (answered) {
            answer.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(toChild[1]);
    ::close(fromChild[0]);
    int raw = 0;
    while (spawned && ::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return answered && WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

void BM_PosixSpawnBaseline(benchmark::State& state) {
    DescriptorLimit limit(state.range(0));
    const double childrenCpuBefore = childrenCpuSeconds();
    for (auto _ : state) {
        if (!spawnRoundTripAndWait(IFXBENCH_CHILD_HELPER)) {
            state.SkipWithError("posix_spawn round trip failed");
            break;
        }
    }
    reportCounters(state, childrenCpuBefore);
}
BENCHMARK(BM_PosixSpawnBaseline)
    ->Arg(kDefaultLimit)
    ->Arg(kRaisedLimit)
    ->Arg(kLoweredLimit)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// From Stop to the status, for a running child that obeys SIGTERM (the helper, once it has
// answered a command, so that it is past its start): BM_StopToStatus/0 after Initialize,
// /1 after InitializeLinux, with the wait thread running as agents run it (/2, after
// InitializeLinux). Only Stop is timed. BM_KillToStatusBaseline is kill(SIGTERM) + waitpid
// on a posix_spawn child: what Stop adds over the bare system calls.
void BM_StopToStatus(benchmark::State& state) {
    BenchLog log;
    EvEvent event;
    std::string path = IFXBENCH_CHILD_HELPER;
    std::string user = ownUserName();
    std::string command = kCommand;
    for (auto _ : state) {
        IfxChildProcess child;
        const int launched =
            state.range(0) == 0
                ? child.Initialize(path.data(), nullptr, nullptr, nullptr, nullptr, &event, false,
                                   false, false, nullptr)
                : child.InitializeLinux(path.data(), nullptr, user.data(), nullptr, nullptr,
                                        nullptr, false, false, false, nullptr);
        if (launched != 0 || child.WriteBuf(command.data()) != 0 || !readAnswer(child) ||
            (state.range(0) == 2 && child.BeginWait() != 0)) {
            state.SkipWithError("launch or round trip failed");
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        const int status = child.Stop(10000);
        const auto end = std::chrono::steady_clock::now();
        if (status != 128 + SIGTERM) {
            state.SkipWithError("the child did not end by SIGTERM");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        child.Finalize();
    }
}
BENCHMARK(BM_StopToStatus)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->UseManualTime();

void BM_KillToStatusBaseline(benchmark::State& state) {
    for (auto _ : state) {
        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
            state.SkipWithError("pipe failed");
            break;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        char* argv[] = {const_cast<char*>(IFXBENCH_CHILD_HELPER), nullptr};
        pid_t pid = 0;
        const bool spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        char buffer[64];
        const bool answered = spawned &&
                              ::write(toChild[1], kCommand, sizeof kCommand) ==
                                  static_cast<ssize_t>(sizeof kCommand) &&
                              ::read(fromChild[0], buffer, sizeof buffer) > 0;
        const auto start = std::chrono::steady_clock::now();
        int raw = 0;
        if (spawned) {
            ::kill(pid, SIGTERM);
            while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
            }
        }
        const auto end = std::chrono::steady_clock::now();
        ::close(toChild[1]);
        ::close(fromChild[0]);
        if (!answered || !WIFSIGNALED(raw)) {
            state.SkipWithError("spawn, round trip or stop failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}
BENCHMARK(BM_KillToStatusBaseline)->Unit(benchmark::kMicrosecond)->UseManualTime();

// The same life with our child-start primitive: the parent prepares everything, the child
// only moves the pipe ends onto its standard streams and executes.
struct ExecOnPipes {
    const char* path;
    char* const* argv;
    char* const* envp;
    int input;
    int output;
};

void execOnPipes(void* argument) {
    const ExecOnPipes* request = static_cast<const ExecOnPipes*>(argument);
    if (::dup2(request->input, STDIN_FILENO) < 0 || ::dup2(request->output, STDOUT_FILENO) < 0 ||
        ::dup2(request->output, STDERR_FILENO) < 0) {
        ::_exit(77);
    }
    JxExecChild(request->path, request->argv, request->envp);
    ::_exit(79);
}

bool sharedMemoryStartRoundTripAndWait(const char* path) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return false;
    }
    char* argv[] = {const_cast<char*>(path), nullptr};
    ExecOnPipes request{path, argv, environ, toChild[0], fromChild[1]};
    int error = 0;
    const pid_t pid = JxStartChildSharingMemory(execOnPipes, &request, &error);
    const bool started = pid > 0;
    ::close(toChild[0]);
    ::close(fromChild[1]);
    bool answered = started && ::write(toChild[1], kCommand, sizeof kCommand) ==
                                   static_cast<ssize_t>(sizeof kCommand);
    char buffer[64];
    std::string answer;
    while (answered && answer.find('\n') == std::string::npos) {
        const ssize_t n = ::read(fromChild[0], buffer, sizeof buffer);
        answered = n > 0;
        if (answered) {
            answer.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(toChild[1]);
    ::close(fromChild[0]);
    int raw = 0;
    while (started && ::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return answered && WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

// Touched memory that makes this process look like a large agent. It only grows: each
// page is allocated and written once per process, outside any timed region.
class ParentBallast {
  public:
    static ParentBallast& instance() {
        static ParentBallast ballast;
        return ballast;
    }
    // False when the process already holds more than mib (it cannot shrink back).
    bool growTo(size_t mib) {
        const size_t wanted = mib << 20;
        if (wanted < m_bytes) {
            return false;
        }
        if (wanted > m_bytes) {
            const size_t more = wanted - m_bytes;
            void* chunk =
                ::mmap(nullptr, more, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (chunk == MAP_FAILED) {
                return false;
            }
            std::memset(chunk, 1, more);
            m_bytes = wanted;
        }
        return true;
    }

  private:
    size_t m_bytes = 0;
};

enum ParentSizeLaunch {
    kPosixSpawn,
    kInitializeLinux,
    kInitialize,
    kSharedMemoryStart,
    kInitializeLinuxForked,
    kInitializeForked
};

// Puts our launches on the fork path (IFXLIB_LAUNCH=fork) for one benchmark.
class ForkedLaunches {
  public:
    explicit ForkedLaunches(bool wanted) : m_wanted(wanted) {
        if (m_wanted) {
            ::setenv("IFXLIB_LAUNCH", "fork", 1);
        }
    }
    ~ForkedLaunches() {
        if (m_wanted) {
            ::unsetenv("IFXLIB_LAUNCH");
        }
    }
    ForkedLaunches(const ForkedLaunches&) = delete;
    ForkedLaunches& operator=(const ForkedLaunches&) = delete;

  private:
    bool m_wanted;
};

// One launch of the given kind with its round trip and wait; false when any step failed.
bool launchRoundTrip(ParentSizeLaunch launch, std::string& path, std::string& user,
                     EvEvent& event) {
    switch (launch) {
        case kPosixSpawn:
            return spawnRoundTripAndWait(path.c_str());
        case kInitializeLinux:
        case kInitializeLinuxForked:
            return initializeLinuxRoundTrip(path, user);
        case kInitialize:
        case kInitializeForked:
            return initializeRoundTrip(path, event);
        case kSharedMemoryStart:
            return sharedMemoryStartRoundTripAndWait(path.c_str());
    }
    return false;
}

void BM_ParentSize(benchmark::State& state, ParentSizeLaunch launch) {
    const size_t mib = static_cast<size_t>(state.range(0));
    if (!ParentBallast::instance().growTo(mib)) {
        state.SkipWithError("parent memory cannot be set to this size (run sizes in order)");
        return;
    }
    const double childrenCpuBefore = childrenCpuSeconds();
    BenchLog log;
    const ForkedLaunches forked(launch == kInitializeLinuxForked || launch == kInitializeForked);
    EvEvent event;
    std::string path = IFXBENCH_CHILD_HELPER;
    std::string user = ownUserName();
    for (auto _ : state) {
        if (!launchRoundTrip(launch, path, user, event)) {
            state.SkipWithError("launch, round trip or child failed");
            break;
        }
    }
    reportCounters(state, childrenCpuBefore);
    state.counters["parent_mib"] = static_cast<double>(mib);
}

// Launch throughput from 8 threads at once (BM_EightThreads/<launch>, registered before
// the parent-size rows, so it runs at the process's own size): posix_spawn + waitpid
// against our two launches. items_per_second is the launches of all threads per second.
// Concurrent launches share no lock but the environment copy's, which no start holds.
void BM_EightThreads(benchmark::State& state, ParentSizeLaunch launch) {
    std::optional<BenchLog> log;
    if (state.thread_index() == 0) {
        // Once, before every thread passes the loop's starting barrier.
        log.emplace();
    }
    // Made inside the loop, after thread 0 has pointed the log at its file.
    std::optional<EvEvent> event;
    std::string path = IFXBENCH_CHILD_HELPER;
    std::string user = ownUserName();
    for (auto _ : state) {
        if (!event) {
            event.emplace();
        }
        if (!launchRoundTrip(launch, path, user, *event)) {
            state.SkipWithError("launch, round trip or child failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

const bool g_eightThreadsRegistered = [] {
    const struct {
        const char* name;
        ParentSizeLaunch launch;
    } launches[] = {{"PosixSpawn", kPosixSpawn},
                    {"InitializeLinux", kInitializeLinux},
                    {"Initialize", kInitialize}};
    for (const auto& launch : launches) {
        benchmark::RegisterBenchmark((std::string("BM_EightThreads/") + launch.name).c_str(),
                                     BM_EightThreads, launch.launch)
            ->Threads(8)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }
    return true;
}();

// Smallest size first, every launch at each size, so that the memory only grows.
const bool g_parentSizeRegistered = [] {
    const struct {
        const char* name;
        ParentSizeLaunch launch;
    } launches[] = {{"PosixSpawn", kPosixSpawn},
                    {"InitializeLinux", kInitializeLinux},
                    {"Initialize", kInitialize},
                    {"SharedMemoryStart", kSharedMemoryStart},
                    {"InitializeLinuxForked", kInitializeLinuxForked},
                    {"InitializeForked", kInitializeForked}};
    for (const int64_t mib : {0, 512, 2048}) {
        for (const auto& launch : launches) {
            benchmark::RegisterBenchmark((std::string("BM_ParentSize/") + launch.name).c_str(),
                                         BM_ParentSize, launch.launch)
                ->Arg(mib)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
        }
    }
    return true;
}();

}  // namespace
