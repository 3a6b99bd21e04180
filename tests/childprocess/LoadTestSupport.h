#pragma once

// What the load tests share: how much work a build can afford, counts of the process's
// resources, a watchdog that turns a hung child into a test failure, and the figures the
// tests print for the reliability notes.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "childprocess/ChildTestSupport.h"
#include "support/Sanitizers.h"
#include "support/TempDir.h"

namespace ifxtest {

// Sanitizers make every launch several times slower; their builds run fewer rounds.

constexpr int Rounds(int plain, int sanitized) {
    return kUnderSanitizer ? sanitized : plain;
}

// The resources a leak would pile up.
struct ProcessCounts {
    std::size_t descriptors = 0;
    // Threads that are not on their way out: pthread_join returns before the kernel has
    // removed the thread from /proc, so a counted thread must not be exiting already.
    std::size_t threads = 0;
    // Ended children of this process that nobody has reaped.
    std::size_t zombies = 0;
    // Bytes of heap in use: mallinfo2, or the sanitizer's allocator when one replaces malloc.
    std::size_t heapInUse = 0;
};
ProcessCounts CountProcessResources();
std::string Describe(const ProcessCounts& counts);

// One figure line on standard output ("[ LOAD ] ..."), also kept in the test's XML report.
void PrintFigure(const std::string& key, const std::string& text);

std::string Milliseconds(std::chrono::steady_clock::duration duration);

// The user a launch switches to under load: "nobody" when we run as root and nobody can
// execute the helper program, otherwise none (the service launch then takes our own).
struct LoadUser {
    std::optional<std::string> name;
    std::string expectedIds;  // the helper's "ids" answer for that user
};
LoadUser ChooseLoadUser(const std::string& helperPath);

// The helper program at a path "nobody" can execute: the build's own when it can, else
// a copy in a world-readable temporary directory (a checkout may sit under a 0700 home).
class ReachableHelper {
  public:
    ReachableHelper();
    const std::string& path() const { return m_path; }

  private:
    std::optional<TempDir> m_copyDir;
    std::string m_path;
};

// A watchdog for launched children. A child that has not been reaped within the limit
// counts as hung: the watchdog records its pid and its last log line and kills it, so the
// test that waits for it fails instead of hanging. A launch call that has not returned
// within the limit leaves no child to kill; the watchdog then reports and aborts, since
// the launching thread cannot be freed.
class HangWatch {
  public:
    using Clock = std::chrono::steady_clock;

    HangWatch(std::string logPath, Clock::duration limit);
    ~HangWatch();
    HangWatch(const HangWatch&) = delete;
    HangWatch& operator=(const HangWatch&) = delete;

    // Call right before the launch; the result names the launch in the calls below.
    int Launching(const std::string& what);
    // The launch returned this child.
    void Launched(int launch, pid_t pid);
    // The launch failed, or its child has been reaped.
    void Done(int launch);

    std::vector<std::string> Hangs() const;
    Clock::duration LongestLife() const;
    long Watched() const;

  private:
    struct Entry {
        std::string what;
        pid_t pid = 0;
        int pidfd = -1;  // kill through it: a reaped child's pid may already be someone else's
        Clock::time_point start;
        bool fired = false;
    };

    void Run();
    void Fire(Entry& entry);
    std::string LastLogLineOf(pid_t pid) const;

    const std::string m_logPath;
    const Clock::duration m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<int, Entry> m_entries;
    int m_next = 0;
    bool m_stopping = false;
    std::vector<std::string> m_hangs;
    Clock::duration m_longestLife{};
    long m_watched = 0;
    std::thread m_thread;  // last: it uses every member above
};

}  // namespace ifxtest
