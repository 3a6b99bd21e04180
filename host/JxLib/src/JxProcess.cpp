#include <JxLib/JxProcess.h>

#include <JxLib/JxChildStart.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "JxErrorText.h"
#include "JxExitStatus.h"

namespace {

long long monotonicMilliseconds() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Result of waiting for a child to become ready to be reaped.
enum class Readiness { Ready, TimedOut, Failed };

// pidfd_open's number on every architecture we build for (older headers lack it).
constexpr long kPidfdOpen = 434;

// Sleeps in poll(2) on a process descriptor until the child ends or the time is up.
Readiness waitOnDescriptor(int pidfd, int timeoutMs, int* error) {
    const long long deadline = monotonicMilliseconds() + timeoutMs;
    for (;;) {
        long long left = deadline - monotonicMilliseconds();
        if (left < 0) {
            left = 0;
        }
        struct pollfd entry {};
        entry.fd = pidfd;
        entry.events = POLLIN;
        int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0) {
            return Readiness::Ready;
        }
        if (ready == 0) {
            return Readiness::TimedOut;
        }
        if (errno != EINTR) {
            *error = errno;
            return Readiness::Failed;
        }
    }
}

// Without process descriptors (before Linux 5.3) a bounded wait for a child needs a thread
// that blocks in waitid(..., WNOWAIT) until the child has ended, reaping nothing: one per
// child, shared by the waits of every object, ending by itself with the child.
struct EndWatch {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
};

std::mutex g_watchesMutex;
std::map<pid_t, std::shared_ptr<EndWatch>> g_watches;

struct WatchStart {
    pid_t child;
    std::shared_ptr<EndWatch> watch;
};

void* watchChild(void* argument) {
    std::unique_ptr<WatchStart> start(static_cast<WatchStart*>(argument));
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(start->child), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> lock(g_watchesMutex);
        auto found = g_watches.find(start->child);
        if (found != g_watches.end() && found->second == start->watch) {
            g_watches.erase(found);
        }
    }
    std::lock_guard<std::mutex> lock(start->watch->mutex);
    start->watch->ended = true;
    start->watch->changed.notify_all();
    return nullptr;
}

// The child's watch, started when first needed; null with *error when no thread could be
// started.
std::shared_ptr<EndWatch> watchFor(pid_t child, int* error) {
    std::lock_guard<std::mutex> lock(g_watchesMutex);
    auto found = g_watches.find(child);
    if (found != g_watches.end()) {
        return found->second;
    }
    auto watch = std::make_shared<EndWatch>();
    auto* start = new (std::nothrow) WatchStart{child, watch};
    if (start == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    ::pthread_attr_setstacksize(&attributes, size_t{256} * 1024);
    // The caller's signal handlers must never run on this thread.
    sigset_t all;
    sigset_t saved;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &saved);
    pthread_t thread;
    const int created = ::pthread_create(&thread, &attributes, watchChild, start);
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    ::pthread_attr_destroy(&attributes);
    if (created != 0) {
        delete start;
        *error = created;
        return nullptr;
    }
    g_watches[child] = watch;
    return watch;
}

Readiness waitOnWatch(pid_t child, int timeoutMs, int* error) {
    const std::shared_ptr<EndWatch> watch = watchFor(child, error);
    if (watch == nullptr) {
        return Readiness::Failed;
    }
    std::unique_lock<std::mutex> lock(watch->mutex);
    return watch->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&watch] { return watch->ended; })
               ? Readiness::Ready
               : Readiness::TimedOut;
}

// Waits until the child has ended or the time is up: on its process descriptor, or on the
// watch where the kernel has none (or none can be opened now).
Readiness waitUntilEnded(pid_t child, int timeoutMs, int* error) {
    const int pidfd = static_cast<int>(::syscall(kPidfdOpen, child, 0));
    if (pidfd < 0) {
        return waitOnWatch(child, timeoutMs, error);
    }
    const Readiness outcome = waitOnDescriptor(pidfd, timeoutMs, error);
    ::close(pidfd);
    return outcome;
}

// One child per object, and a callback to run in it.
bool mayStartChild(void (*callback)(void*), pid_t child, std::string* error) {
    if (callback != nullptr && child <= 0) {
        return true;
    }
    JxSetErrorText(error,
                   callback == nullptr ? "no callback" : "this object already started a child", 0);
    errno = callback == nullptr ? EINVAL : EBUSY;
    return false;
}

}  // namespace

JxProcess::JxProcess() : m_child(0), m_reaped(false) {}

JxProcess::~JxProcess() {
    if (m_child > 0 && !m_reaped) {
        int saved = errno;
        int raw = 0;
        ::waitpid(m_child, &raw, WNOHANG);
        errno = saved;
    }
}

bool JxProcess::Fork(void (*callback)(void*), void* argument, std::string* error) {
    if (!mayStartChild(callback, m_child, error)) {
        return false;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        int code = errno;
        JxSetErrorText(error, "fork failed", code);
        errno = code;
        return false;
    }
    if (pid == 0) {
        callback(argument);
        // Not exit(): the parent's atexit handlers and stdio buffers were copied into us
        // and must not run twice.
        ::_exit(127);
    }
    m_child = pid;
    m_reaped = false;
    return true;
}

bool JxProcess::Spawn(void (*callback)(void*), void* argument, std::string* error) {
    if (!mayStartChild(callback, m_child, error)) {
        return false;
    }
    int code = 0;
    const pid_t pid = JxStartChildSharingMemory(callback, argument, &code);
    return recordSpawned(pid, code, error);
}

bool JxProcess::SpawnAs(void (*callback)(void*), void* argument,
                        const JxChildCredentials* credentials, std::string* error) {
    if (!mayStartChild(callback, m_child, error)) {
        return false;
    }
    int code = 0;
    const pid_t pid = JxStartChildSharingMemoryAs(callback, argument, credentials, &code);
    return recordSpawned(pid, code, error);
}

bool JxProcess::recordSpawned(pid_t pid, int code, std::string* error) {
    if (pid < 0) {
        JxSetErrorText(error, "spawn failed", code);
        errno = code;
        return false;
    }
    m_child = pid;
    m_reaped = false;
    return true;
}

int JxProcess::GetChildPid() const {
    return m_child;
}

bool JxProcess::WaitForProcessToEnd(int* status, std::string* error, int timeout) {
    if (status == nullptr) {
        JxSetErrorText(error, "no place for the status", 0);
        errno = EINVAL;
        return false;
    }
    if (m_child <= 0 || m_reaped) {
        JxSetErrorText(
            error, m_child <= 0 ? "no child to wait for" : "the child was already waited for", 0);
        errno = ECHILD;
        return false;
    }
    if (timeout >= 0) {
        int code = 0;
        Readiness readiness = waitUntilEnded(m_child, timeout, &code);
        if (readiness == Readiness::TimedOut) {
            JxSetErrorText(error, "timed out", 0);
            errno = ETIMEDOUT;
            return false;
        }
        if (readiness == Readiness::Failed) {
            JxSetErrorText(error, "cannot watch the child", code);
            errno = code;
            return false;
        }
    }
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(m_child, &raw, 0);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        int code = errno;
        JxSetErrorText(error, "waitpid failed", code);
        errno = code;
        return false;
    }
    m_reaped = true;
    *status = JxExitStatusFromWait(raw);
    return true;
}
