#pragma once

// run: what can be checked before the launch, and the launch itself.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "Commands.h"

namespace ifxctl {

// Who the utility will run as.
struct RunAs {
    std::string name;  // empty: ifxctl's own user, unnamed (the direct launch only)
    uid_t uid = 0;
    std::vector<gid_t> groups;  // the primary group first
};

// Finds the user the utility will run as, then whether the program can be executed by
// that user, the way env, nice and timeout judge: 125 with "no such user 'x'", 127 when
// the program does not exist, 126 when it cannot be executed. Best effort: the launch
// remains the judge, and a check that cannot be made lets the launch go ahead. Returns
// the exit status for a failed check.
std::optional<int> CheckBeforeLaunch(const RunOptions& options, RunAs& runAs);

// Launches the utility as the options say, on the child object. False, with the reason
// told, when the launch failed in this process.
bool Launch(const RunOptions& options, const RunAs& runAs, EvEvent& event, IfxChildProcess& child);

}  // namespace ifxctl
