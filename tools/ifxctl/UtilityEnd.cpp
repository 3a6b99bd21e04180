#include "UtilityEnd.h"

#include <JxLib/JxThread.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "Output.h"

namespace ifxctl {

namespace {

Outcome joinWaitThread(IfxChildProcess& child) {
    const int joined = child.m_pthread->join();
    if (joined != 0) {
        Complain("cannot join the wait thread: " + ErrorText(joined));
        return {};
    }
    if (child.m_bwaitdone) {
        return {true, 0};
    }
    const auto status = static_cast<int>(child.m_exitcode);
    if (child.m_bwaitfailed && status != 0) {
        return {true, status};
    }
    Complain("the wait for the utility gave no status");
    return {};
}

Outcome waitFor(IfxChildProcess& child) {
    const int status = child.WaitFor(-1);
    if (status < 0) {
        Complain("the wait for the utility gave no status: " + ErrorText(errno));
        return {};
    }
    return {true, status};
}

// Without a process descriptor: the child is ours to reap by its number, which nothing
// else in ifxctl then uses.
Outcome reapByNumber(pid_t pid) {
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &raw, 0);
    } while (result < 0 && errno == EINTR);
    if (result != pid) {
        Complain("waiting for the utility failed: " + ErrorText(errno));
        return {};
    }
    if (WIFSIGNALED(raw)) {
        return {true, 128 + WTERMSIG(raw), true, true};
    }
    return {true, WEXITSTATUS(raw), true, false};
}

Outcome waitHere(IfxChildProcess& child) {
    const int status = child.Wait(0);
    if (status < 0) {
        Complain("the wait for the utility gave no status: " +
                 ErrorText(static_cast<int>(child.m_lasterror)));
        return {};
    }
    return {true, status};
}

}  // namespace

UtilityEnd::UtilityEnd(IfxChildProcess& child, Waiter waiter) : m_child(child), m_waiter(waiter) {}

UtilityEnd::~UtilityEnd() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    for (const int fd : m_ended) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool UtilityEnd::Start() {
    m_descriptor = m_child.ExitDescriptor();
    if (m_descriptor >= 0) {
        m_watcherless = true;
        return true;
    }
    if (::pipe2(m_ended, O_CLOEXEC) != 0) {
        Complain("cannot create a pipe: " + ErrorText(errno));
        return false;
    }
    m_descriptor = m_ended[0];
    m_thread = std::thread([this] { watch(); });
    return true;
}

void UtilityEnd::watch() {
    switch (m_waiter) {
        case Waiter::kDirect: {
            siginfo_t ended{};
            while (::waitid(P_PID, static_cast<id_t>(m_child.m_childpid), &ended,
                            WEXITED | WNOWAIT) < 0 &&
                   errno == EINTR) {
            }
            break;
        }
        case Waiter::kWaitThread:
            m_outcome = joinWaitThread(m_child);
            break;
        case Waiter::kHere:
            m_outcome = waitHere(m_child);
            break;
    }
    // The end of this pipe is the event.
    ::close(m_ended[1]);
    m_ended[1] = -1;
}

Outcome UtilityEnd::Collect() {
    if (!m_watcherless) {
        m_thread.join();
        return m_waiter == Waiter::kDirect ? reapByNumber(m_child.m_childpid) : m_outcome;
    }
    // The wait thread, when it runs, has the status; it is joined so that the object
    // never outlives it.
    return m_waiter == Waiter::kWaitThread ? joinWaitThread(m_child) : waitFor(m_child);
}

}  // namespace ifxctl
