#pragma once

// Stands in for pipe2 in this test program: once armed, the next pipe made non-blocking
// (the launch's report pipe) is followed at once by a fork of a process that holds every
// descriptor of the agent, the pipe's write end among them, until it is released: the
// agent's worker that a thread of its own forked in the middle of a launch.

#include <sys/types.h>

namespace ifxtest {

void HoldNextNonBlockingPipe();
// The holder's pid, 0 when none was forked; ends and reaps it.
pid_t ReleasePipeHolder();

}  // namespace ifxtest
