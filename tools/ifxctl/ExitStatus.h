#pragma once

// run: the utility's exit status, and the words ifxctl has for it.

#include <string>

namespace ifxctl {

struct Outcome {
    bool known = false;
    int status = 0;
};

// A launch that failed in the utility's process, as the library reports it.
struct LaunchFailure {
    int error = 0;  // errno of the step; 0: the program was executed
    int step = 0;   // the exit code of that step: 81 user, 77 streams, 79 exec
};

// The status and the one line for a launch that failed, as env and timeout have them:
// 127 when the program (or its interpreter) is not found, 126 when it cannot be
// executed, 125 when the user or the streams could not be set up.
int LaunchFailureStatus(const LaunchFailure& failure);
std::string DescribeLaunchFailure(const LaunchFailure& failure, const std::string& program,
                                  const std::string& user);

// What ifxctl knows beyond the status itself.
struct StatusContext {
    int sentSignal = 0;  // the last signal ifxctl sent or passed on, 0 for none
};

// The one line that ifxctl says about a status, or "" when the status says all there is
// to say: an exit of the utility's own, 0 or not, goes without a word, as env and
// timeout have it. A signal is named only when it is the one ifxctl sent last: a status
// above 128 may be the utility's own exit code.
std::string DescribeStatus(const Outcome& outcome, const StatusContext& context);

}  // namespace ifxctl
