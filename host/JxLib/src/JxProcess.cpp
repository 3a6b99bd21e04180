#include <JxLib/JxProcess.h>

#include <JxLib/JxChildStart.h>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>

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

// Sleeps in poll(2) on a process descriptor until the child ends or the time is up.
Readiness waitUntilEnded(pid_t child, int timeoutMs, int* error) {
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd < 0) {
        *error = errno;
        return Readiness::Failed;
    }
    const long long deadline = monotonicMilliseconds() + timeoutMs;
    Readiness outcome = Readiness::TimedOut;
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
            outcome = Readiness::Ready;
            break;
        }
        if (ready == 0) {
            break;
        }
        if (errno != EINTR) {
            *error = errno;
            outcome = Readiness::Failed;
            break;
        }
    }
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
