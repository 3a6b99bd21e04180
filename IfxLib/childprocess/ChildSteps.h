#pragma once

// The steps a freshly forked child takes before exec, shared by the direct launch and the
// launch through the process service. They run in a copy of one thread of a possibly
// multi-threaded parent: no locks, no stdio, and every failure ends the process with
// _exit so that the parent's atexit handlers and stdio buffers are not run twice.

#include <IfxLib/platform/HostServices.h>

#include "ChildEnvironment.h"
#include "UserResolution.h"

namespace ifxlib {

// Exit codes of a child that could not reach its program; whoever waits for it sees them.
enum ChildExitCode : int {
    kChildStreamsFailed = 77,
    kChildExecFailed = 79,
    kChildUserFailed = 81,
};

// Where a child's messages go. traceLevel 0 writes the trace lines unconditionally (the
// process-service child), any other level through DebugLvl (the direct child).
struct ChildLog {
    const EvEvent* event;
    const char* tag;
    int traceLevel;
};

[[noreturn]] void EndChild(int exitCode);

// Ends the child with kChildUserFailed when the parent could not find the user.
void CheckUserFoundOrExit(const ChildLog& log, const ResolvedUser& user);
void LogUserChange(const ChildLog& log, const char* name, const ResolvedUser& user);
// Sets the supplementary groups the parent found; 0, or the errno of setgroups.
int SetSupplementaryGroups(const ResolvedUser& user);
[[noreturn]] void InitgroupsFailed(const ChildLog& log, int error);
// setgid, then setuid; the child ends with kChildUserFailed when either fails.
void SetGroupAndUserOrExit(const ChildLog& log, const ResolvedUser& user);

// Logs name[i]=value[i] while both lists go on and switches to the environment the parent
// prepared with them.
void ApplyEnvironment(const ChildLog& log, char** envName, char** envValue,
                      ChildEnvironment& environment);

void LogExec(const ChildLog& log, const char* path);
// input becomes descriptor 0, output descriptors 1 and 2; kChildStreamsFailed otherwise.
void ConnectStandardStreamsOrExit(const ChildLog& log, int input, int output);
// Only 0, 1 and 2 may reach the program.
void CloseDescriptorsFrom3();
[[noreturn]] void ExecFailed(const ChildLog& log, int error);

}  // namespace ifxlib
