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

// --ignore-environment, --unset and --chdir, applied to ifxctl's own process, which the
// launch copies (the library only adds variables and has no working directory of its
// own): before the library's log variables are set and read and before PATH is searched.
// The exit status for a step that failed (125), told.
std::optional<int> PrepareOwnProcess(const RunOptions& options);

// Who the utility will run as, and the program it will execute.
struct RunAs {
    std::string name;  // empty: ifxctl's own user, unnamed (the direct launch only)
    uid_t uid = 0;
    std::vector<gid_t> groups;  // the primary group first
    std::string home;           // from the user database, with --user
    std::string program;        // the path executed: PROGRAM, or what PATH gave for it
};

// Finds the user the utility will run as, then the program, in PATH when its name has no
// slash (as env and execvp look: the PATH the utility gets, --env PATH= included), and
// whether that user can reach and execute it (as runuser -u would find it: directory
// search permission along the path, ACLs where present), the way env, nice and timeout
// judge: 125 with "no such user 'x'" or when a caller other than root
// asks for another user, 127 when the program does not exist, 126 when it cannot be
// executed. Best effort: the launch remains the judge, and a check that cannot be made
// lets the launch go ahead. Returns the exit status for a failed check.
std::optional<int> CheckBeforeLaunch(const RunOptions& options, RunAs& runAs);

// Gives the utility the environment of the user it runs as, as runuser -u does: HOME,
// and USER and LOGNAME for a user other than root (SHELL stays the caller's), set in our own
// environment, which the launch copies (its --env pairs still come on top). Only with --user and
// without --preserve-environment. False with errno set when a variable cannot be set.
bool SetUserEnvironment(const RunOptions& options, const RunAs& runAs);

// Launches the utility as the options say, on the child object. False, with the reason
// told, when the launch failed in this process.
bool Launch(const RunOptions& options, const RunAs& runAs, EvEvent& event, IfxChildProcess& child);

}  // namespace ifxctl
