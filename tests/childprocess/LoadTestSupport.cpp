#include "childprocess/LoadTestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define IFXTEST_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define IFXTEST_SANITIZER_ALLOCATOR 1
#endif
#endif

#ifdef IFXTEST_SANITIZER_ALLOCATOR
// The sanitizer runtimes replace malloc, so mallinfo2 sees nothing; their allocator
// reports what is in use itself.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace ifxtest {

namespace {

// Numeric entries of a /proc directory.
std::vector<long> NumericEntries(const std::string& directory) {
    std::vector<long> numbers;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return numbers;
    }
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long number = std::strtol(entry->d_name, &end, 10);
        if (entry->d_name[0] != '.' && end != nullptr && *end == '\0') {
            numbers.push_back(number);
        }
    }
    ::closedir(dir);
    return numbers;
}

// The fields of a /proc stat file after the command name, which may hold blanks and
// parentheses itself: [0] state, [1] ppid, ... [6] flags. Empty when the task is gone.
std::vector<std::string> StatFieldsAfterName(const std::string& statPath) {
    std::ifstream in(statPath);
    std::string text;
    std::getline(in, text);
    const std::string::size_type close = text.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) {
        return fields;
    }
    std::istringstream rest(text.substr(close + 1));
    std::string field;
    while (rest >> field) {
        fields.push_back(field);
    }
    return fields;
}

const char kSleepMarker[] = "/tmp/clifxagentchild.sleep";

// Set in the task's flags from the moment it starts to exit.
constexpr unsigned long kTaskExiting = 0x4;

std::size_t CountLiveThreads() {
    std::size_t count = 0;
    for (long tid : NumericEntries("/proc/self/task")) {
        const std::vector<std::string> fields =
            StatFieldsAfterName("/proc/self/task/" + std::to_string(tid) + "/stat");
        if (fields.size() > 6 && (std::stoul(fields[6]) & kTaskExiting) == 0) {
            ++count;
        }
    }
    return count;
}

std::size_t CountZombieChildren() {
    const std::string self = std::to_string(::getpid());
    std::size_t count = 0;
    for (long pid : NumericEntries("/proc")) {
        const std::vector<std::string> fields =
            StatFieldsAfterName("/proc/" + std::to_string(pid) + "/stat");
        if (fields.size() > 1 && fields[0] == "Z" && fields[1] == self) {
            ++count;
        }
    }
    return count;
}

std::size_t HeapInUse() {
#ifdef IFXTEST_SANITIZER_ALLOCATOR
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// The pid field of a log line "<date> <time> <pid> <tid> [<tag>] <message>", or 0.
long PidOfLogLine(const std::string& line) {
    std::istringstream in(line);
    std::string date, time;
    long pid = 0;
    in >> date >> time >> pid;
    return in ? pid : 0;
}

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

void KillChild(pid_t pid, int pidfd) {
#ifdef SYS_pidfd_send_signal
    if (pidfd >= 0) {
        ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
        return;
    }
#endif
    (void)pidfd;
    // Without pidfds (a kernel before 5.3) the pid is the only handle; it could name
    // another process only if the child was reaped and its pid reused in the moment
    // before Done.
    ::kill(pid, SIGKILL);
}

}  // namespace

ProcessCounts CountProcessResources() {
    ProcessCounts counts;
    counts.descriptors = OpenDescriptors().size();
    counts.threads = CountLiveThreads();
    counts.zombies = CountZombieChildren();
    counts.heapInUse = HeapInUse();
    return counts;
}

std::string Describe(const ProcessCounts& counts) {
    return "descriptors=" + std::to_string(counts.descriptors) +
           " threads=" + std::to_string(counts.threads) +
           " zombies=" + std::to_string(counts.zombies) +
           " heap=" + std::to_string(counts.heapInUse);
}

void PrintFigure(const std::string& key, const std::string& text) {
    std::printf("[ LOAD     ] %s: %s\n", key.c_str(), text.c_str());
    std::fflush(stdout);
    ::testing::Test::RecordProperty(key, text);
}

std::string Milliseconds(std::chrono::steady_clock::duration duration) {
    const double ms = std::chrono::duration<double, std::milli>(duration).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

LoadUser ChooseLoadUser(const std::string& helperPath) {
    LoadUser user;
    if (::getuid() == 0 && ExecutableBy("nobody", helperPath)) {
        user.name = "nobody";
        user.expectedIds = ExpectedIdsOf("nobody");
    } else {
        user.expectedIds = OwnIds();
    }
    return user;
}

ReachableHelper::ReachableHelper() : m_path(ChildHelperPath()) {
    if (::getuid() != 0 || ExecutableBy("nobody", m_path)) {
        return;
    }
    m_copyDir.emplace();
    ::chmod(m_copyDir->path().c_str(), 0755);
    const std::string copy = m_copyDir->write("child-helper", readFile(m_path));
    ::chmod(copy.c_str(), 0755);
    m_path = copy;
}

HangWatch::HangWatch(std::string logPath, Clock::duration limit)
    : m_logPath(std::move(logPath)), m_limit(limit), m_thread([this] { Run(); }) {}

HangWatch::~HangWatch() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
    for (auto& [launch, entry] : m_entries) {
        if (entry.pidfd >= 0) {
            ::close(entry.pidfd);
        }
    }
}

int HangWatch::Launching(const std::string& what) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    const int launch = m_next++;
    Entry& entry = m_entries[launch];
    entry.what = what;
    entry.start = Clock::now();
    ++m_watched;
    m_changed.notify_all();
    return launch;
}

void HangWatch::Launched(int launch, pid_t pid) {
    // Opened before the lock, and while the child cannot have been reaped yet.
    const int pidfd = OpenPidfd(pid);
    const std::lock_guard<std::mutex> lock(m_mutex);
    Entry& entry = m_entries.at(launch);
    entry.pid = pid;
    entry.pidfd = pidfd;
}

void HangWatch::Done(int launch) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_entries.find(launch);
    if (found == m_entries.end()) {
        return;
    }
    const Clock::duration life = Clock::now() - found->second.start;
    if (life > m_longestLife) {
        m_longestLife = life;
    }
    if (found->second.pidfd >= 0) {
        ::close(found->second.pidfd);
    }
    m_entries.erase(found);
}

std::vector<std::string> HangWatch::Hangs() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_hangs;
}

HangWatch::Clock::duration HangWatch::LongestLife() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_longestLife;
}

long HangWatch::Watched() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_watched;
}

void HangWatch::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        std::optional<Clock::time_point> earliest;
        for (const auto& [launch, entry] : m_entries) {
            const Clock::time_point deadline = entry.start + m_limit;
            if (!entry.fired && (!earliest || deadline < *earliest)) {
                earliest = deadline;
            }
        }
        if (!earliest) {
            m_changed.wait(lock);
            continue;
        }
        // Woken early by every change; a deadline that has passed is checked below.
        m_changed.wait_until(lock, *earliest);
        const Clock::time_point now = Clock::now();
        for (auto& [launch, entry] : m_entries) {
            if (!entry.fired && now >= entry.start + m_limit) {
                Fire(entry);
            }
        }
    }
}

void HangWatch::Fire(Entry& entry) {
    entry.fired = true;
    const long seconds = std::chrono::duration_cast<std::chrono::seconds>(m_limit).count();
    if (entry.pid == 0) {
        std::fprintf(stderr, "%s: the launch has not returned after %ld s; aborting\n",
                     entry.what.c_str(), seconds);
        std::abort();
    }
    std::string hang = entry.what + ": child " + std::to_string(entry.pid) + " still alive after " +
                       std::to_string(seconds) +
                       " s; its last log line: " + LastLogLineOf(entry.pid);
    // The marker is one path for the whole machine: a test of another checkout that
    // creates it holds our direct launches too.
    if (::access(kSleepMarker, F_OK) == 0) {
        hang += " (" + std::string(kSleepMarker) + " exists: it holds every direct launch)";
    }
    m_hangs.push_back(hang);
    KillChild(entry.pid, entry.pidfd);
}

std::string HangWatch::LastLogLineOf(pid_t pid) const {
    std::ifstream in(m_logPath);
    std::string line;
    std::string last = "(none)";
    while (std::getline(in, line)) {
        if (PidOfLogLine(line) == pid) {
            last = line;
        }
    }
    return last;
}

}  // namespace ifxtest
