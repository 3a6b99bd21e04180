#pragma once

// The state an IfxChildProcess keeps beyond its public members, behind one pointer so that
// the class keeps its size: the launch options, the child's process descriptor, the status
// once the child is reaped, and the launch's report.
//
// Observing and reaping: the child is watched without reaping it (poll on its process
// descriptor; without one, waitid(..., WEXITED | WNOWAIT) on its number, in the waiting
// thread or in the watcher) and reaped only under mutex, after a check without reaping that
// it is still ours and unreaped. Every signal is sent under the same mutex: while the
// child is unreaped its number cannot be reused, so a signal by number (where there is no
// descriptor, or for the group before Linux 6.9) is as safe as one through a descriptor,
// as long as nobody outside the library reaps the child. A child found reaped by someone
// else is "lost": the calls then give ECHILD and send nothing.

#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <IfxLib/platform/HostServices.h>

#include "ChildWatcher.h"
#include "LaunchReport.h"

namespace ifxlib {

struct ChildLifetime {
    ChildLifetime() = default;
    ~ChildLifetime();
    ChildLifetime(const ChildLifetime&) = delete;
    ChildLifetime& operator=(const ChildLifetime&) = delete;

    std::unique_ptr<EvEvent> ownedEvent;
    unsigned options = 0;

    // Set by a successful launch.
    pid_t child = 0;
    bool ownGroup = false;
    // The process descriptor, -1 without one, and what the kernel was found to lack for
    // it (each tried once for this child).
    int pidfd = -1;
    bool waitThroughDescriptor = true;
    bool signalThroughDescriptor = true;
    bool signalGroupThroughDescriptor = true;

    std::mutex mutex;
    // Any of the flags below changed.
    std::condition_variable changed;
    bool reaped = false;
    int status = 0;
    bool lost = false;
    bool waitThreadDone = false;
    // A Stop is under way: it reaps the child itself once the group is empty, and every
    // other reaper holds off until then.
    bool stopping = false;
    // Threads in a waitid(P_PID, ..., WNOWAIT) on the child's number outside the lock;
    // the child is reaped only once they have returned, so that none of them waits on a
    // number another process took since.
    int observers = 0;
    ChildWatcher watcher;

    LaunchReport report;
};

// ---- The launch ----------------------------------------------------------------------

// Makes the report pipe: the write end for the child, or -1 (LaunchError then gives the
// pipe's errno).
int OpenLaunchReport(ChildLifetime& life);
// The parent's part once the start has returned: closes the write end (only the child's
// copy may keep the pipe open), and for a started child opens its process descriptor and
// puts it in its own group when asked. After the shared-memory start (sharedStart, which
// returns once the child executed or ended) it collects the report at once; after a forked
// start with kStopWithLauncher it waits until the child has set its parent-death signal
// (or failed, or ended).
void NoteStart(ChildLifetime& life, int reportWriteEnd, pid_t child, bool sharedStart);

// ---- Waiting, reaping and signalling -------------------------------------------------

// WaitFor: see IfxLib.h. waitThreadStarted says whether a wait thread was started.
int WaitForChild(ChildLifetime& life, JxProcess* process, bool waitThreadStarted,
                 long milliseconds);
// Wait's and the wait thread's blocking wait: true with the status (reaped here or
// before), false with errno.
bool AwaitAndReap(ChildLifetime& life, JxProcess* process, int& status);
// The wait thread has stored its report: wakes WaitFor.
void NoteWaitThreadEnded(ChildLifetime& life);
int SignalChild(ChildLifetime& life, int signal);
int StopChild(ChildLifetime& life, JxProcess* process, bool waitThreadStarted,
              long graceMilliseconds);
int ChildExitDescriptor(ChildLifetime& life);
int ChildLaunchError(ChildLifetime& life, int* step);

}  // namespace ifxlib
