#pragma once

// Where the kernel has no process descriptors, a bounded wait for the child, and a
// descriptor that polls readable at its end, need a thread (or polling): the watcher,
// started the first time one of them is asked for, blocks in waitid(P_PID, ...,
// WEXITED | WNOWAIT) and makes an eventfd readable once the child has ended (or once
// waitid says the child is not ours to wait for: reaped elsewhere). It never reaps.
//
// Its lifetime: it ends by itself when the child ends. The object's owner reaps the child
// only after the watcher has seen the end (WaitUntilDone), so the watcher never waits on
// a number that another process has taken since. When the owner goes first, the
// destructor closes the eventfd and detaches the thread, which then ends with the child,
// touching nothing but the state it shares with the object.

#include <pthread.h>
#include <sys/types.h>

#include <memory>

namespace ifxlib {

class ChildWatcher {
  public:
    ChildWatcher() = default;
    ~ChildWatcher();
    ChildWatcher(const ChildWatcher&) = delete;
    ChildWatcher& operator=(const ChildWatcher&) = delete;

    bool Started() const { return m_shared != nullptr; }
    // Starts watching child: 0, or the errno of eventfd or of the thread's start (nothing
    // is kept then, so a later call tries again). ended: the child is known to have ended
    // already; the descriptor is readable at once and no thread is started.
    int Start(pid_t child, bool ended);
    // The eventfd, once started; the watcher owns it.
    int Descriptor() const;
    // Blocks until the thread has seen the end (at once without a thread).
    void WaitUntilDone();

    struct Shared;

  private:
    std::shared_ptr<Shared> m_shared;
    bool m_threadRunning = false;
    pthread_t m_thread{};
};

}  // namespace ifxlib
