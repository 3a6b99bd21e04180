#pragma once

// Steers the next thread this test program starts, by standing in for pthread_create:
// a test can make pthread_create return only once the new thread has finished, or hold
// the new thread before its entry function until the test lets it go. Everything else
// passes straight through to the real pthread_create (or the sanitizer's, which comes
// next in the lookup order).

#include <sys/types.h>

namespace ifxtest {

enum class NextThreadStart {
    kNormal,
    // pthread_create returns after the thread's entry function has returned.
    kReturnAfterItEnds,
    // The thread waits before its entry function until ReleaseHeldThread.
    kHoldUntilReleased,
};

// Applies to the next pthread_create of the process only.
void SetNextThreadStart(NextThreadStart mode);

// The held thread's id, once it has reached the hold.
pid_t WaitForHeldThread();
void ReleaseHeldThread();

}  // namespace ifxtest
