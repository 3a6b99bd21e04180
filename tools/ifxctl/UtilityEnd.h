#pragma once

// run: the end of the utility as an event of the conversation's poll loop, and its status,
// through the library's calls alone. The utility's exit ends the run even when a process
// it started still holds the output pipe open, so the loop cannot wait for the end of the
// output; it waits for the library's ExitDescriptor. Whoever reaps the utility (the wait
// thread, or WaitFor here), the library does it, so nothing in ifxctl ever waits for or
// signals a process by its number.

#include <IfxLib/IfxLib.h>

#include "ExitStatus.h"

namespace ifxctl {

class UtilityEnd {
  public:
    explicit UtilityEnd(IfxChildProcess& child) : m_child(child) {}
    UtilityEnd(const UtilityEnd&) = delete;
    UtilityEnd& operator=(const UtilityEnd&) = delete;

    // Starts watching; false, with the reason told, when it cannot.
    bool Start();
    // Readable once the utility has ended.
    int Descriptor() const { return m_descriptor; }

    // The status, once Descriptor() was readable (or the caller is content to wait).
    // Beside the wait thread it is the status that thread stored.
    Outcome Collect();

  private:
    IfxChildProcess& m_child;
    int m_descriptor = -1;  // the library's: never closed here
};

}  // namespace ifxctl
