#pragma once

// run: the utility's exit status, learnt from the launch's wait, and the words for it.

#include <IfxLib/IfxLib.h>

#include <string>

#include "SignalForwarding.h"

namespace ifxctl {

struct Outcome {
    bool known = false;
    int status = 0;
    bool signalKnown = false;  // the status says for sure whether a signal ended it
    bool bySignal = false;
};

// The direct launch leaves its child to us: waits for it to end, stops the forwarding of
// signals to it, then reaps it.
Outcome ReapDirectChild(pid_t pid, SignalForwarder& forwarder);
// The wait thread's report, final once the thread has ended.
Outcome JoinWaitThread(IfxChildProcess& child);
// Wait in this thread, for when the wait thread could not start.
Outcome WaitHere(IfxChildProcess& child);

// True for the exit codes with which the launch's child ends when a step before the
// program failed; the utility may end with them too.
bool IsLaunchCode(int status);

// The one line that ifxctl says about a status other than 0, or "" for 0. The launch's
// own codes 77, 79 and 81 are named as such only when the launch's child logged a
// failure (failure, from LoggedLaunchFailure); logAvailable says whether we could look.
std::string DescribeStatus(const Outcome& outcome, const std::string& failure, bool logAvailable);

}  // namespace ifxctl
