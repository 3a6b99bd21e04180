#pragma once

// Stop requests for a running utility: SIGINT, SIGTERM and SIGHUP sent to ifxctl become
// readable on a descriptor of the conversation's poll loop, which passes each on with the
// library's SendSignal (to the utility's process group when it has its own). No pid is
// ever signalled by number, so a utility that was reaped is never confused with a process
// that took its number.
//
// Those the terminal sends (Ctrl-C, a hangup) are passed on too: in a process group of
// its own the utility is outside the terminal's foreground group and gets none of them
// itself. With --foreground it shares our group, gets the terminal's signal directly and
// then once more from us, as under timeout(1).

namespace ifxctl {

class StopRequests {
  public:
    // Catches the three signals from now on: a request that comes before the utility
    // runs waits for it.
    StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // False with errno set when the signals cannot be caught.
    bool Installed() const { return m_installed; }

    // Readable while a request waits.
    int Descriptor() const;
    // The next waiting signal, 0 when none waits.
    int Take();

  private:
    bool m_installed = false;
};

}  // namespace ifxctl
