#pragma once

// The state an IfxChildProcess keeps beyond its public members, behind one pointer so that
// the class keeps its size: the launch options, the child's process descriptor, the status
// once the child is reaped, and the launch's error report.
//
// Reaping: whoever reaps the child (Wait, the wait thread, WaitFor, Stop) first waits
// until the process descriptor polls readable, then reaps under mutex and stores the
// status here. A group signal is sent under the same mutex after checking that the
// leader is not reaped, so the group's number cannot have been reused meanwhile.

#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <IfxLib/platform/HostServices.h>

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
    int pidfd = -1;
    int pidfdError = ECHILD;
    bool ownGroup = false;

    std::mutex mutex;
    std::condition_variable waitThreadEnded;
    bool reaped = false;
    int status = 0;
    bool waitThreadDone = false;

    LaunchReport report;
};

// ---- The launch ----------------------------------------------------------------------

// Makes the report pipe, close-on-exec and non-blocking at both ends. The
// write end for the child, or -1 (the launch goes on without a report; LaunchError then
// gives the pipe's errno).
int OpenLaunchReport(ChildLifetime& life);
// The parent's part once the start has returned: closes the write end (only the child's
// copy may keep the pipe open), and for a started child opens its process descriptor,
// puts it in its own group when asked, and with readReport (the shared-memory start,
// which returns once the child executed or ended) collects the report at once.
void NoteStart(ChildLifetime& life, int reportWriteEnd, pid_t child, bool readReport);

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
int ChildExitDescriptor(const ChildLifetime& life);
int ChildLaunchError(ChildLifetime& life, int* step);

}  // namespace ifxlib
