#pragma once

// run: the end of the utility as an event of the conversation's poll loop. The utility's
// exit ends the run even when a process it started still holds the output pipe open, so
// the loop cannot wait for the end of the output; it waits for this descriptor.

#include <IfxLib/IfxLib.h>

#include <thread>

#include "ExitStatus.h"
#include "SignalForwarding.h"

namespace ifxctl {

class UtilityEnd {
  public:
    enum class Waiter {
        kDirect,      // Initialize: the child is ours to reap
        kWaitThread,  // the library's wait thread reaps it and keeps the status
        kHere,        // no wait thread: Wait, on a thread of ours
    };

    UtilityEnd(IfxChildProcess& child, Waiter waiter);
    ~UtilityEnd();
    UtilityEnd(const UtilityEnd&) = delete;
    UtilityEnd& operator=(const UtilityEnd&) = delete;

    // Starts watching; false, with the reason told, when it cannot.
    bool Start();
    // Readable once the utility has ended.
    int Descriptor() const { return m_ended[0]; }

    // The status, once Descriptor() was readable. The forwarding of signals stops before
    // a child of ours is reaped, so that its number, free for reuse once reaped, is never
    // signalled.
    Outcome Collect(SignalForwarder& forwarder);

  private:
    void watch();

    IfxChildProcess& m_child;
    const Waiter m_waiter;
    int m_ended[2] = {-1, -1};
    std::thread m_thread;
    Outcome m_outcome;  // written by the thread, read after it was joined
};

}  // namespace ifxctl
