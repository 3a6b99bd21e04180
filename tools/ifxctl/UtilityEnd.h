#pragma once

// run: the end of the utility as an event of the conversation's poll loop. The utility's
// exit ends the run even when a process it started still holds the output pipe open, so
// the loop cannot wait for the end of the output; it waits for this descriptor: the
// library's ExitDescriptor, or, on a kernel without process descriptors, the end of a
// pipe that a thread of ours closes once the wait has seen the end.

#include <IfxLib/IfxLib.h>

#include <thread>

#include "ExitStatus.h"

namespace ifxctl {

class UtilityEnd {
  public:
    enum class Waiter {
        kDirect,      // Initialize: nobody else reaps the child
        kWaitThread,  // the library's wait thread reaps it and keeps the status
        kHere,        // InitializeLinux without the wait thread
    };

    UtilityEnd(IfxChildProcess& child, Waiter waiter);
    ~UtilityEnd();
    UtilityEnd(const UtilityEnd&) = delete;
    UtilityEnd& operator=(const UtilityEnd&) = delete;

    // Starts watching; false, with the reason told, when it cannot.
    bool Start();
    // Readable once the utility has ended.
    int Descriptor() const { return m_descriptor; }
    // The library can signal the utility (it has a process descriptor for it).
    bool CanSignal() const { return m_watcherless; }

    // The status, once Descriptor() was readable (or the caller is content to wait).
    Outcome Collect();

  private:
    void watch();

    IfxChildProcess& m_child;
    const Waiter m_waiter;
    bool m_watcherless = false;  // ExitDescriptor serves
    int m_descriptor = -1;
    int m_ended[2] = {-1, -1};
    std::thread m_thread;
    Outcome m_outcome;  // written by the thread, read after it was joined
};

}  // namespace ifxctl
