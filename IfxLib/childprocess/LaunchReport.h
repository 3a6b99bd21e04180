#pragma once

// The launch's report pipe: what a child says about its way to its program, read by the
// parent without blocking. The child writes fixed-size records (each one write of less
// than PIPE_BUF, so whole or not at all) and the pipe ends for the parent when the last
// copy of its write end goes: at the child's exec (close-on-exec) or at its death, and
// later when another process of the agent forked meanwhile and holds a copy.
//
// So the end of the pipe alone cannot tell a program that ran from a child that died, and
// it may come late. The child therefore records that it reached exec right before the
// call; a failed exec is recorded after it. Once the child has ended, every record it
// wrote is in the pipe, so its answer is final then whether the pipe has ended or not.

#include <sys/types.h>

#include <cstdint>

namespace ifxlib {

enum class LaunchStage : int32_t {
    // A step failed: error and step say which.
    kFailed = 1,
    // kStopWithLauncher's parent-death signal is set, after the user switch.
    kTiedToLauncher = 2,
    // The child calls exec next.
    kExecuting = 3,
};

struct LaunchRecord {
    LaunchStage stage;
    int32_t error;
    int32_t step;
};

// The parent's side. Not thread-safe: its owner locks.
class LaunchReport {
  public:
    LaunchReport() = default;
    ~LaunchReport();
    LaunchReport(const LaunchReport&) = delete;
    LaunchReport& operator=(const LaunchReport&) = delete;

    // Makes the pipe, close-on-exec and non-blocking at both ends. The write end for the
    // child, or -1 (the launch goes on without a report; Answer then gives the pipe's
    // errno).
    int Open();
    // No child was started: nothing will be reported.
    void Abandon();
    // Reads what has arrived, without blocking.
    void Collect();
    // Blocks until the child has tied itself to its launcher, failed, or the pipe ended,
    // or until endedFd (a descriptor that polls readable once the child ended, -1 for
    // none) says the child has ended. True when the child reported the tie.
    bool AwaitTie(int endedFd);

    // LaunchError's answer, as IfxLib.h describes it. childEnded: the child is known to
    // have ended (every record it wrote has arrived).
    int Answer(bool childEnded, int* step);

  private:
    bool Read();

    int m_fd = -1;
    int m_openError = 0;
    bool m_ended = false;
    bool m_failed = false;
    bool m_executing = false;
    bool m_tied = false;
    int m_error = 0;
    int m_step = 0;
};

// Runs in the child: one write of the record, nothing else. Nobody to tell when it fails:
// the exit code and the log line still say it.
void WriteLaunchFailure(int reportWriteEnd, int error, int step);
void WriteLaunchStage(int reportWriteEnd, LaunchStage stage);

}  // namespace ifxlib
