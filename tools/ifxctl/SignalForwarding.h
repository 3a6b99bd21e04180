#pragma once

// Stop requests for a running utility. SIGINT, SIGTERM and SIGHUP that another process
// sends to ifxctl (kill, a service manager) are passed on to the utility; a signal that
// the kernel generated (Ctrl-C or a hangup on the terminal) already reached the utility
// through the foreground process group and is not sent twice. Either way ifxctl stays to
// report the utility's status.

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace ifxctl {

class SignalForwarder {
  public:
    // Catches the three signals from now on: a request that comes before the utility
    // runs waits for it.
    SignalForwarder();
    // Stops forwarding; the handlers stay for the rest of the process.
    ~SignalForwarder();
    SignalForwarder(const SignalForwarder&) = delete;
    SignalForwarder& operator=(const SignalForwarder&) = delete;

    // False with errno set when the signals cannot be caught.
    bool Installed() const { return m_installed; }

    // Forwards every request, earlier ones included, to pid (only when it is above 0:
    // the utility shares our process group, and a group kill would hit us too).
    void ForwardTo(pid_t pid);
    // Called once the utility has ended and before it is reaped, so that its number,
    // free for reuse once reaped, is never signalled.
    void Stop();

    // The last signal passed on to the utility, 0 for none.
    int LastForwarded() const { return m_lastForwarded.load(); }

  private:
    void forward();

    bool m_installed = false;
    std::mutex m_mutex;
    pid_t m_pid = 0;  // guarded by m_mutex
    std::atomic<int> m_lastForwarded{0};
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace ifxctl
