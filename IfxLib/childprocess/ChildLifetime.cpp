#include "ChildLifetime.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include <IfxLib/IfxLib.h>

namespace ifxlib {

namespace {

// The same numbers on every architecture we build for; older C library headers lack them.
#ifdef SYS_pidfd_open
constexpr long kPidfdOpen = SYS_pidfd_open;
#else
constexpr long kPidfdOpen = 434;
#endif
#ifdef SYS_pidfd_send_signal
constexpr long kPidfdSendSignal = SYS_pidfd_send_signal;
#else
constexpr long kPidfdSendSignal = 424;
#endif

// SIGKILL cannot be caught, but a process in uninterruptible sleep (a hung mount) dies
// only when the call it sleeps in returns; past this bound Stop gives up for now.
constexpr long kAfterKillMilliseconds = 10000;

using Clock = std::chrono::steady_clock;

// A bound the clock cannot reach counts as none: the steady clock counts nanoseconds in
// 64 bits, and the end of a longer bound (LONG_MAX milliseconds, say) would wrap around
// into the past. Beyond 2^62 ns (about 146 years) the end of the bound, and what the C++
// library adds to it when it converts it to another clock, still fits.
constexpr long kLongestBoundMilliseconds = (1LL << 62) / 1000000;

class Deadline {
  public:
    explicit Deadline(long milliseconds)
        : m_unbounded(milliseconds < 0 || milliseconds > kLongestBoundMilliseconds),
          m_end(m_unbounded ? Clock::time_point::max()
                            : Clock::now() + std::chrono::milliseconds(milliseconds)) {}

    bool Unbounded() const { return m_unbounded; }
    Clock::time_point End() const { return m_end; }
    // For poll: -1 without a bound, else what is left, rounded up so that a wait never ends
    // before the bound.
    int PollTimeout() const {
        if (m_unbounded) {
            return -1;
        }
        const auto left = m_end - Clock::now();
        if (left <= Clock::duration::zero()) {
            return 0;
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return static_cast<int>(std::min<long long>(ms, INT_MAX));
    }

  private:
    bool m_unbounded;
    Clock::time_point m_end;
};

int StatusFromWait(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    if (WIFSIGNALED(raw)) {
        return 128 + WTERMSIG(raw);
    }
    return raw;
}

// 0 once the process descriptor is readable (the child ended), else ETIMEDOUT or poll's
// error. Signals do not end the wait.
int AwaitEnd(int pidfd, const Deadline& deadline) {
    for (;;) {
        struct pollfd entry {};
        entry.fd = pidfd;
        entry.events = POLLIN;
        const int ready = ::poll(&entry, 1, deadline.PollTimeout());
        if (ready > 0) {
            return 0;
        }
        if (ready == 0) {
            return ETIMEDOUT;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

// Under life.mutex. The child has ended (or the caller accepts to block until it does).
int ReapLocked(ChildLifetime& life, JxProcess* process) {
    if (life.reaped) {
        return life.status;
    }
    int status = 0;
    if (process != nullptr) {
        if (!process->WaitForProcessToEnd(status, nullptr, 0, -1)) {
            return -1;
        }
    } else {
        int raw = 0;
        pid_t result;
        do {
            result = ::waitpid(life.child, &raw, 0);
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            return -1;
        }
        status = StatusFromWait(raw);
    }
    life.reaped = true;
    life.status = status;
    return status;
}

int Fail(int error) {
    errno = error;
    return -1;
}

// Whether the child has ended, without waiting and without reaping it: every record it
// wrote to the launch's report has arrived by then.
bool EndedLocked(const ChildLifetime& life) {
    if (life.reaped) {
        return true;
    }
    if (life.pidfd >= 0) {
        struct pollfd entry {};
        entry.fd = life.pidfd;
        entry.events = POLLIN;
        return ::poll(&entry, 1, 0) > 0;
    }
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(life.child), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        // ECHILD: reaped behind our back, so it has ended.
        return errno == ECHILD;
    }
    return info.si_pid == life.child;
}

}  // namespace

ChildLifetime::~ChildLifetime() {
    if (pidfd >= 0) {
        ::close(pidfd);
    }
}

int OpenLaunchReport(ChildLifetime& life) {
    return life.report.Open();
}

void NoteStart(ChildLifetime& life, int reportWriteEnd, pid_t child, bool readReport) {
    if (reportWriteEnd >= 0) {
        ::close(reportWriteEnd);
    }
    const std::lock_guard<std::mutex> lock(life.mutex);
    if (child <= 0) {
        life.report.Abandon();
        return;
    }
    life.child = child;
    life.pidfd = static_cast<int>(::syscall(kPidfdOpen, child, 0));
    life.pidfdError = life.pidfd < 0 ? errno : 0;
    if ((life.options & IfxChildProcess::kOwnProcessGroup) != 0) {
        // The child makes its group itself before exec; doing it here too means a signal
        // sent right after the launch already reaches the group. EACCES once the child
        // has executed, ESRCH once it has ended: its own call did the work or nothing is
        // left to do.
        ::setpgid(child, child);
        life.ownGroup = true;
    }
    if (readReport) {
        life.report.Collect();
    }
}

int WaitForChild(ChildLifetime& life, JxProcess* process, bool waitThreadStarted,
                 long milliseconds) {
    const Deadline deadline(milliseconds);
    {
        std::unique_lock<std::mutex> lock(life.mutex);
        if (life.child <= 0) {
            return Fail(ECHILD);
        }
        if (waitThreadStarted) {
            const auto ended = [&life] { return life.waitThreadDone; };
            if (deadline.Unbounded()) {
                life.waitThreadEnded.wait(lock, ended);
            } else if (!life.waitThreadEnded.wait_until(lock, deadline.End(), ended)) {
                return Fail(ETIMEDOUT);
            }
        }
        if (life.reaped) {
            return life.status;
        }
        // A wait thread that ended without a status (after Initialize there is none for it
        // to get) leaves the child to us.
        if (life.pidfd < 0) {
            return Fail(life.pidfdError);
        }
    }
    if (const int error = AwaitEnd(life.pidfd, deadline); error != 0) {
        return Fail(error);
    }
    const std::lock_guard<std::mutex> lock(life.mutex);
    return ReapLocked(life, process);
}

bool AwaitAndReap(ChildLifetime& life, JxProcess* process, int& status) {
    {
        const std::lock_guard<std::mutex> lock(life.mutex);
        if (life.reaped) {
            status = life.status;
            return true;
        }
    }
    if (life.pidfd >= 0 && AwaitEnd(life.pidfd, Deadline(-1)) == 0) {
        // Reaped under the lock, so that a group signal never goes to a reused number.
        const std::lock_guard<std::mutex> lock(life.mutex);
        const int result = ReapLocked(life, process);
        if (result < 0) {
            return false;
        }
        status = result;
        return true;
    }
    // No process descriptor: nothing is signalled either, so the blocking wait may run
    // without the lock, which WaitFor needs meanwhile.
    if (process == nullptr || !process->WaitForProcessToEnd(status, nullptr, 0, -1)) {
        return false;
    }
    const std::lock_guard<std::mutex> lock(life.mutex);
    life.reaped = true;
    life.status = status;
    return true;
}

void NoteWaitThreadEnded(ChildLifetime& life) {
    {
        const std::lock_guard<std::mutex> lock(life.mutex);
        life.waitThreadDone = true;
    }
    life.waitThreadEnded.notify_all();
}

int SignalChild(ChildLifetime& life, int signal) {
    const std::lock_guard<std::mutex> lock(life.mutex);
    if (life.child <= 0) {
        return Fail(ECHILD);
    }
    if (life.pidfd < 0) {
        return Fail(life.pidfdError);
    }
    if (life.reaped) {
        return Fail(ESRCH);
    }
    // The leader is not reaped while we hold the lock, so its number still names its group.
    const long sent = life.ownGroup ? ::kill(-life.child, signal)
                                    : ::syscall(kPidfdSendSignal, life.pidfd, signal, nullptr, 0);
    return sent == 0 ? 0 : -1;
}

int StopChild(ChildLifetime& life, JxProcess* process, bool waitThreadStarted,
              long graceMilliseconds) {
    {
        const std::lock_guard<std::mutex> lock(life.mutex);
        if (life.reaped) {
            return life.status;
        }
    }
    // ESRCH: it was reaped or has gone meanwhile; the wait below tells which status.
    if (SignalChild(life, SIGTERM) != 0 && errno != ESRCH) {
        return -1;
    }
    // A stopped utility (SIGSTOP, or SIGTTIN reading the terminal from its own group)
    // would run its SIGTERM handler, or even die of the signal, only once continued.
    if (SignalChild(life, SIGCONT) != 0 && errno != ESRCH) {
        return -1;
    }
    const int status = WaitForChild(life, process, waitThreadStarted, graceMilliseconds);
    if (status >= 0 || errno != ETIMEDOUT || graceMilliseconds < 0) {
        return status;
    }
    if (SignalChild(life, SIGKILL) != 0 && errno != ESRCH) {
        return -1;
    }
    return WaitForChild(life, process, waitThreadStarted, kAfterKillMilliseconds);
}

int ChildExitDescriptor(const ChildLifetime& life) {
    if (life.child <= 0) {
        return Fail(ECHILD);
    }
    if (life.pidfd < 0) {
        return Fail(life.pidfdError);
    }
    return life.pidfd;
}

int ChildLaunchError(ChildLifetime& life, int* step) {
    const std::lock_guard<std::mutex> lock(life.mutex);
    if (life.child <= 0) {
        return Fail(ECHILD);
    }
    // Asked before the report is read: a child seen ended has written all it will write.
    return life.report.Answer(EndedLocked(life), step);
}

}  // namespace ifxlib
