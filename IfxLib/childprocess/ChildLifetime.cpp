#include "ChildLifetime.h"

#include "ProcessDescriptor.h"
#include "ProcessGroup.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include <IfxLib/IfxLib.h>

namespace ifxlib {

namespace {

// SIGKILL cannot be caught, but a process in uninterruptible sleep (a hung mount) dies
// only when the call it sleeps in returns; past this bound Stop gives up for now.
constexpr long kAfterKillMilliseconds = 10000;

// How often Stop looks for members left in the utility's group once the leader has ended:
// at once, then after 1, 2, 4, ... milliseconds, at most every 50 ms.
constexpr long kFirstGroupPauseMilliseconds = 1;
constexpr long kLongestGroupPauseMilliseconds = 50;

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

int StatusFromInfo(const siginfo_t& info) {
    return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

int Fail(int error) {
    errno = error;
    return -1;
}

// 0 once fd polls readable, else ETIMEDOUT or poll's error. Signals do not end the wait.
int AwaitReadable(int fd, const Deadline& deadline) {
    for (;;) {
        struct pollfd entry {};
        entry.fd = fd;
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

template <typename Predicate>
bool WaitLocked(std::unique_lock<std::mutex>& lock, ChildLifetime& life, const Deadline& deadline,
                Predicate predicate) {
    if (deadline.Unbounded()) {
        life.changed.wait(lock, predicate);
        return true;
    }
    return life.changed.wait_until(lock, deadline.End(), predicate);
}

// Under life.mutex: someone outside the library reaped the child.
int LoseLocked(ChildLifetime& life) {
    life.lost = true;
    life.changed.notify_all();
    return ECHILD;
}

// Under life.mutex: 0 when the child is still ours and unreaped (running or ended), ECHILD
// when someone else reaped it, else the check's error. Reaps nothing.
int CheckOursLocked(ChildLifetime& life) {
    if (life.pidfd >= 0 && life.waitThroughDescriptor) {
        siginfo_t info{};
        if (WaitThroughDescriptor(life.pidfd, &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
            return 0;
        }
        if (errno == ECHILD) {
            return LoseLocked(life);
        }
        if (!KernelLacks(errno)) {
            return errno;
        }
        life.waitThroughDescriptor = false;
    }
    if (life.pidfd >= 0 && life.signalThroughDescriptor) {
        // Before waitid(P_PIDFD): the descriptor still reaches the process until it is
        // reaped, zombie or not.
        if (SignalThroughDescriptor(life.pidfd, 0, false) == 0) {
            return 0;
        }
        if (errno == ESRCH) {
            return LoseLocked(life);
        }
        if (!KernelLacks(errno)) {
            return errno;
        }
        life.signalThroughDescriptor = false;
    }
    // By number: only a child of ours answers, and an ended one only until it is reaped.
    // Without a descriptor this cannot tell our child from another child of the agent
    // that took its number after someone else reaped it.
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(life.child), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        return 0;
    }
    return errno == ECHILD ? LoseLocked(life) : errno;
}

// Under life.mutex: blocks until the child (known to have ended) may be reaped, and reaps
// it. byStop: the caller is the Stop under way; anybody else holds off while one is.
int ReapLocked(std::unique_lock<std::mutex>& lock, ChildLifetime& life, JxProcess* process,
               bool byStop, const Deadline& deadline) {
    const auto mayReap = [&life, byStop] {
        return life.reaped || life.lost || ((byStop || !life.stopping) && life.observers == 0);
    };
    if (!WaitLocked(lock, life, deadline, mayReap)) {
        return Fail(ETIMEDOUT);
    }
    if (life.reaped) {
        return life.status;
    }
    if (life.lost) {
        return Fail(ECHILD);
    }
    if (const int error = CheckOursLocked(life); error != 0) {
        return Fail(error);
    }
    // The watcher returns at once from its waitid on an ended child.
    life.watcher.WaitUntilDone();
    int status = 0;
    if (process != nullptr) {
        // The host reaps by number: checked above to be our unreaped child.
        if (!process->WaitForProcessToEnd(status, nullptr, 0, -1)) {
            return errno == ECHILD ? Fail(LoseLocked(life)) : -1;
        }
    } else if (life.pidfd >= 0 && life.waitThroughDescriptor) {
        siginfo_t info{};
        if (WaitThroughDescriptor(life.pidfd, &info, WEXITED) != 0) {
            return errno == ECHILD ? Fail(LoseLocked(life)) : -1;
        }
        status = StatusFromInfo(info);
    } else {
        int raw = 0;
        pid_t result;
        do {
            result = ::waitpid(life.child, &raw, 0);
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            return errno == ECHILD ? Fail(LoseLocked(life)) : -1;
        }
        status = StatusFromWait(raw);
    }
    life.reaped = true;
    life.status = status;
    life.changed.notify_all();
    return status;
}

// Under life.mutex: whether the child has ended, without waiting and without reaping it.
// Every record it wrote to the launch's report has arrived by then.
bool EndedLocked(const ChildLifetime& life) {
    if (life.reaped || life.lost) {
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

// Under life.mutex: the watcher, started when first needed.
int StartWatcherLocked(ChildLifetime& life) {
    return life.watcher.Start(life.child, life.reaped || life.lost);
}

// Blocks until the child has ended, or is found not ours to wait for (the reaping check
// then says which): 0, ETIMEDOUT or an error. Reaps nothing.
int AwaitEnd(ChildLifetime& life, const Deadline& deadline) {
    int fd = -1;
    {
        const std::lock_guard<std::mutex> lock(life.mutex);
        if (life.reaped || life.lost) {
            return 0;
        }
        if (life.pidfd >= 0) {
            fd = life.pidfd;
        } else if (deadline.Unbounded()) {
            ++life.observers;
        } else {
            if (const int error = StartWatcherLocked(life); error != 0) {
                return error;
            }
            fd = life.watcher.Descriptor();
        }
    }
    if (fd >= 0) {
        // Both stay open until the object is destroyed.
        const int error = AwaitReadable(fd, deadline);
        // A poll that failed (ENOMEM, say) says nothing about the child: without a bound the
        // wait by number below serves as well, and a wait for the end must not fail for it.
        if (error == 0 || error == ETIMEDOUT || !deadline.Unbounded()) {
            return error;
        }
        const std::lock_guard<std::mutex> lock(life.mutex);
        if (life.reaped || life.lost) {
            return 0;
        }
        ++life.observers;
    }
    // No bound and no descriptor: this thread watches, as the watcher would.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(life.child), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    const std::lock_guard<std::mutex> lock(life.mutex);
    --life.observers;
    life.changed.notify_all();
    return 0;
}

// Under life.mutex: one signal to the child, or to its group. 0 or the errno.
int SignalLocked(ChildLifetime& life, int signal) {
    if (life.child <= 0) {
        return ECHILD;
    }
    if (life.reaped) {
        return ESRCH;
    }
    if (life.lost) {
        return ECHILD;
    }
    if (life.pidfd >= 0 && life.signalThroughDescriptor &&
        (!life.ownGroup || life.signalGroupThroughDescriptor)) {
        if (SignalThroughDescriptor(life.pidfd, signal, life.ownGroup) == 0) {
            return 0;
        }
        const int error = errno;
        if (error == ESRCH) {
            // Not reaped by us, and no longer there: someone else reaped it.
            return LoseLocked(life);
        }
        if (error == EINVAL && life.ownGroup) {
            // An invalid signal, or a kernel before the group flag: signal 0 tells which.
            if (SignalThroughDescriptor(life.pidfd, 0, true) == 0) {
                return EINVAL;
            }
            life.signalGroupThroughDescriptor = false;
        } else if (error == ENOSYS || error == EPERM) {
            // A refused call, or a process we may not signal: by number, the kernel then
            // answers EPERM again.
            life.signalThroughDescriptor = false;
        } else {
            return error;
        }
    }
    // By number, only while the child is ours and unreaped: nobody in the library can reap
    // it while we hold the lock, so its number (and its group's) still names it.
    if (const int error = CheckOursLocked(life); error != 0) {
        return error;
    }
    return ::kill(life.ownGroup ? -life.child : life.child, signal) == 0 ? 0 : errno;
}

// Once the leader has ended: 0 when no other member of its group is left, ETIMEDOUT when
// some are at the end of the grace. Looked up at the intervals above, since no event
// says that a group has emptied.
int AwaitGroupEmpty(const ChildLifetime& life, const Deadline& deadline) {
    long pause = kFirstGroupPauseMilliseconds;
    for (;;) {
        const GroupMembers members = OtherGroupMembers(life.child, life.child);
        if (members == GroupMembers::kNone) {
            return 0;
        }
        if (members == GroupMembers::kUnknown && deadline.Unbounded()) {
            // Nothing to look at, and no end to the grace: the leader's end has to do.
            return 0;
        }
        const int left = deadline.PollTimeout();
        if (left == 0) {
            return ETIMEDOUT;
        }
        const int nap = members == GroupMembers::kUnknown
                            ? left
                            : static_cast<int>(std::min<long>(pause, left < 0 ? pause : left));
        ::poll(nullptr, 0, nap);
        pause = std::min(pause * 2, kLongestGroupPauseMilliseconds);
    }
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

void NoteStart(ChildLifetime& life, int reportWriteEnd, pid_t child, bool sharedStart) {
    if (reportWriteEnd >= 0) {
        ::close(reportWriteEnd);
    }
    const std::lock_guard<std::mutex> lock(life.mutex);
    if (child <= 0) {
        life.report.Abandon();
        return;
    }
    life.child = child;
    // Opened by number: the host's start returns a number, not a descriptor. Checked to be
    // our child, unreaped, right after, so that it cannot name a process that took the
    // number of a child reaped elsewhere at once (an agent that ignores SIGCHLD, say).
    // Without one (an older kernel, or a transient error such as EMFILE), every call goes
    // by number under the lock.
    life.pidfd = OpenProcessDescriptor(child);
    if (life.pidfd >= 0 && CheckOursLocked(life) == ECHILD) {
        ::close(life.pidfd);
        life.pidfd = -1;
    }
    if ((life.options & IfxChildProcess::kOwnProcessGroup) != 0) {
        // The child makes its group itself before exec; doing it here too means a signal
        // sent right after the launch already reaches the group. EACCES once the child
        // has executed, ESRCH once it has ended: its own call did the work or nothing is
        // left to do.
        ::setpgid(child, child);
        life.ownGroup = true;
    }
    if (sharedStart) {
        life.report.Collect();
    } else if ((life.options & IfxChildProcess::kStopWithLauncher) != 0) {
        // The launching thread must live until the child has set its parent-death signal:
        // a thread that ends before goes unnoticed (the child's parent becomes another
        // thread of the agent, with the same process id).
        life.report.AwaitTie(life.pidfd);
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
        if (waitThreadStarted &&
            !WaitLocked(lock, life, deadline, [&life] { return life.waitThreadDone; })) {
            return Fail(ETIMEDOUT);
        }
        if (life.reaped) {
            return life.status;
        }
        if (life.lost) {
            return Fail(ECHILD);
        }
        // A wait thread that ended without a status (after Initialize there is none for it
        // to get) leaves the child to us.
    }
    if (const int error = AwaitEnd(life, deadline); error != 0) {
        return Fail(error);
    }
    std::unique_lock<std::mutex> lock(life.mutex);
    return ReapLocked(lock, life, process, false, deadline);
}

bool AwaitAndReap(ChildLifetime& life, JxProcess* process, int& status) {
    const Deadline unbounded(-1);
    if (const int error = AwaitEnd(life, unbounded); error != 0) {
        errno = error;
        return false;
    }
    std::unique_lock<std::mutex> lock(life.mutex);
    const int result = ReapLocked(lock, life, process, false, unbounded);
    if (result < 0) {
        return false;
    }
    status = result;
    return true;
}

void NoteWaitThreadEnded(ChildLifetime& life) {
    const std::lock_guard<std::mutex> lock(life.mutex);
    life.waitThreadDone = true;
    life.changed.notify_all();
}

int SignalChild(ChildLifetime& life, int signal) {
    const std::lock_guard<std::mutex> lock(life.mutex);
    const int error = SignalLocked(life, signal);
    return error == 0 ? 0 : Fail(error);
}

namespace {

// Stop's work once it holds the stop: 0 when the leader has ended and its group (with
// kOwnProcessGroup) is empty, or the error.
int EndChildAndGroup(ChildLifetime& life, const Deadline& grace) {
    for (const int signal : {SIGTERM, SIGCONT}) {
        // A stopped utility (SIGSTOP, or SIGTTIN reading the terminal from its own group)
        // would run its SIGTERM handler, or even die of the signal, only once continued.
        const std::lock_guard<std::mutex> lock(life.mutex);
        if (const int error = SignalLocked(life, signal); error != 0) {
            return error;
        }
    }
    int error = AwaitEnd(life, grace);
    if (error == 0 && life.ownGroup) {
        // The leader stays unreaped meanwhile: as a zombie it holds the group's number.
        error = AwaitGroupEmpty(life, grace);
    }
    if (error != ETIMEDOUT) {
        return error;
    }
    {
        const std::lock_guard<std::mutex> lock(life.mutex);
        if (const int killError = SignalLocked(life, SIGKILL); killError != 0) {
            return killError;
        }
    }
    return AwaitEnd(life, Deadline(kAfterKillMilliseconds));
}

}  // namespace

int StopChild(ChildLifetime& life, JxProcess* process, bool waitThreadStarted,
              long graceMilliseconds) {
    const Deadline grace(graceMilliseconds);
    {
        std::unique_lock<std::mutex> lock(life.mutex);
        if (life.child <= 0) {
            return Fail(ECHILD);
        }
        // One Stop at a time; a second one gets the first one's result.
        life.changed.wait(lock, [&life] { return !life.stopping || life.reaped || life.lost; });
        if (life.reaped) {
            return life.status;
        }
        if (life.lost) {
            return Fail(ECHILD);
        }
        life.stopping = true;
    }
    const int error = EndChildAndGroup(life, grace);
    int result;
    {
        std::unique_lock<std::mutex> lock(life.mutex);
        result = error == 0 ? ReapLocked(lock, life, process, true, Deadline(-1)) : Fail(error);
        const int saved = errno;
        life.stopping = false;
        life.changed.notify_all();
        // Like WaitFor, Stop returns once a running wait thread has stored its report,
        // which it does at once now that the child is reaped.
        if (result >= 0 && waitThreadStarted) {
            life.changed.wait(lock, [&life] { return life.waitThreadDone; });
        }
        errno = saved;
    }
    return result;
}

int ChildExitDescriptor(ChildLifetime& life) {
    const std::lock_guard<std::mutex> lock(life.mutex);
    if (life.child <= 0) {
        return Fail(ECHILD);
    }
    if (life.pidfd >= 0) {
        return life.pidfd;
    }
    if (const int error = StartWatcherLocked(life); error != 0) {
        return Fail(error);
    }
    return life.watcher.Descriptor();
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
