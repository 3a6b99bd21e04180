#pragma once

#include <string>

namespace ifxtest {

// The sleep marker, /tmp/clifxagentchild.sleep, is one path for the whole machine: a test
// run from another clone that creates it holds this run's direct children and turns their
// launches onto the fork path, and one that removes it frees a child this run holds.
// Tests that create the marker, or count on its absence, take this lock first: exclusive
// to create it, shared to count on it being absent. It is an flock on a file under
// /run/lock, so it spans every clone and user on the machine and the kernel drops it
// however the test ends.
class SleepMarkerLock {
  public:
    enum class Use { kCreatesTheMarker, kNeedsItAbsent };

    // Waits for the lock; a test run elsewhere holds it for one test at most.
    explicit SleepMarkerLock(Use use);
    ~SleepMarkerLock();
    SleepMarkerLock(const SleepMarkerLock&) = delete;
    SleepMarkerLock& operator=(const SleepMarkerLock&) = delete;

    // Empty when the lock is held; otherwise what failed.
    const std::string& error() const { return m_error; }

    static const char* Path();

  private:
    int m_fd = -1;
    std::string m_error;
};

}  // namespace ifxtest
