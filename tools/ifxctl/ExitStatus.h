#pragma once

// run: the utility's exit status, and the words ifxctl has for it.

#include <string>

namespace ifxctl {

struct Outcome {
    bool known = false;
    int status = 0;
    bool signalKnown = false;  // the status says for sure whether a signal ended it
    bool bySignal = false;
};

// True for the exit codes with which the launch's child ends when a step before the
// program failed; the utility may end with them too.
bool IsLaunchCode(int status);

// What ifxctl knows beyond the status itself.
struct StatusContext {
    int forwardedSignal = 0;    // the last signal ifxctl passed on, 0 for none
    std::string launchFailure;  // why the launch's child ended, when it failed
};

// The one line that ifxctl says about a status, or "" when the status says all there is
// to say: an exit of the utility's own, 0 or not, goes without a word, as env and
// timeout have it. A signal is named when ifxctl knows that one ended the utility.
std::string DescribeStatus(const Outcome& outcome, const StatusContext& context);

}  // namespace ifxctl
