#include "SignalForwarding.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "Output.h"

namespace ifxctl {

namespace {

constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP};

// The self-pipe: the handler writes one byte per request, the forwarding thread reads
// them. Made once and never closed, so that a handler running late on another thread
// never writes into a descriptor number that has since been reused.
int g_requests[2] = {-1, -1};

void onStopRequest(int signal, siginfo_t* info, void*) {
    if (info != nullptr && info->si_code == SI_KERNEL) {
        return;
    }
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe drops the request: hundreds are already waiting to be sent.
    (void)!::write(g_requests[1], &byte, 1);
    errno = saved;
}

bool makeRequestPipe() {
    if (g_requests[0] >= 0) {
        return true;
    }
    if (::pipe2(g_requests, O_CLOEXEC) != 0) {
        return false;
    }
    return ::fcntl(g_requests[1], F_SETFL, O_NONBLOCK) == 0;
}

}  // namespace

SignalForwarder::SignalForwarder() {
    if (!makeRequestPipe()) {
        return;
    }
    struct sigaction action {};
    action.sa_sigaction = onStopRequest;
    // Restarted: the library's pipe calls must not see EINTR for a request it ignores.
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : kForwarded) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            return;
        }
    }
    m_installed = true;
}

SignalForwarder::~SignalForwarder() {
    Stop();
}

void SignalForwarder::ForwardTo(pid_t pid) {
    if (!m_installed || m_thread.joinable()) {
        return;
    }
    if (::pipe2(m_stop, O_CLOEXEC) != 0) {
        Complain("cannot pass signals on to the utility: " + ErrorText(errno));
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_pid = pid;
    }
    m_thread = std::thread([this] { forward(); });
}

void SignalForwarder::Stop() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_pid = 0;
    }
    if (!m_thread.joinable()) {
        return;
    }
    ::close(m_stop[1]);  // the thread sees the end of this pipe
    m_thread.join();
    ::close(m_stop[0]);
    m_stop[0] = m_stop[1] = -1;
}

void SignalForwarder::forward() {
    for (;;) {
        struct pollfd watched[2] = {{m_stop[0], POLLIN, 0}, {g_requests[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Complain("cannot wait for signals to pass on: " + ErrorText(errno));
            return;
        }
        if (watched[0].revents != 0) {
            return;
        }
        unsigned char signal = 0;
        if (::read(g_requests[0], &signal, 1) != 1) {
            continue;  // interrupted; poll again
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pid > 0) {
            m_lastForwarded.store(signal);
        }
        if (m_pid > 0 && ::kill(m_pid, signal) != 0 && errno != ESRCH) {
            Complain("cannot pass signal " + std::to_string(signal) +
                     " on to the utility: " + ErrorText(errno));
        }
    }
}

}  // namespace ifxctl
