#pragma once

// The steps a child takes before exec, shared by the direct launch and the launch through
// the process service. The child is either a fork of one thread of a multi-threaded agent
// or, normally, a process started with JxStartChildSharingMemory that runs in the agent's
// own memory, on a stack of its own, while the agent's other threads go on. Either way,
// everything here and everything it calls (the logger's write path included) keeps to
// these rules:
//   - no allocation, no lock, no stdio, no getenv: another thread may hold the allocator's
//     or the environment's lock, and in a forked child nobody would ever release it;
//   - write no memory but the child's own stack: no member of IfxChildProcess, no global,
//     nothing the parent prepared (a shared-memory child would change the agent under its
//     running threads); errno is the one exception, the start puts it back;
//   - only async-signal-safe calls and raw system calls (credentials through syscall(2):
//     the C library's setuid and friends work on every thread of the process);
//   - read only what the parent prepared before the start and leaves alone until it
//     returns; the program's environment comes from that preparation, never from environ;
//   - end with JxExecChild or _exit, so that the agent's atexit handlers and stdio
//     buffers are not run twice.
// Log lines are formatted into a buffer on the stack and written with one write(2).
// Library code the child reaches must be bound at load time (-z now): the first call
// through a lazily bound PLT slot would run the dynamic linker's resolver, which takes
// its lock and writes the slot, in the agent's memory.

#include <signal.h>

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

// Where a child's messages go. Trace lines are written at traceLevel: 0 writes them
// always (the process-service child), 2 only at that level (the direct child).
// standardError is the child's own state, kept on its stack: the descriptor that stands
// for standard error in the logger, which stops being descriptor 2 once the program's
// streams take that number.
// launchReport is the write end of the launch's report pipe, -1 for none: a step that
// fails writes its errno and exit code there before the child ends.
struct ChildLog {
    const EvEvent* event;
    const char* tag;
    int traceLevel;
    int standardError;
    int launchReport = -1;
};

// Always written, whatever the level.
void LogLine(const ChildLog& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Written at the log's trace level.
void LogTrace(const ChildLog& log, const char* format, ...) __attribute__((format(printf, 2, 3)));

[[noreturn]] void EndChild(int exitCode);
// Reports error and exitCode to the launch, then ends the child with exitCode.
[[noreturn]] void FailChild(const ChildLog& log, int error, int exitCode);

// A handler of the parent must not run in the child: every caught signal goes back to its
// default. Ignored signals stay ignored. The first thing a child does.
void ResetCaughtSignals();
// Puts back the mask the parent had before it blocked everything around the fork.
void RestoreCallerSignals(const sigset_t* callerSignals);

// Ends the child with kChildUserFailed when the parent could not find the user.
void CheckUserFoundOrExit(const ChildLog& log, const ResolvedUser& user);
void LogUserChange(const ChildLog& log, const char* name, const ResolvedUser& user);
// Sets the supplementary groups the parent found; 0, or the errno of setgroups.
int SetSupplementaryGroups(const ResolvedUser& user);
[[noreturn]] void InitgroupsFailed(const ChildLog& log, int error);
// setgid, then setuid; the child ends with kChildUserFailed when either fails.
void SetGroupAndUserOrExit(const ChildLog& log, const ResolvedUser& user);

// The launch options' steps, before the user switch and after it (PR_SET_PDEATHSIG does
// not survive a change of credentials). A failure ends the child as an exec failure.
void ApplyGroupOptionOrExit(const ChildLog& log, unsigned options);
void ApplyLauncherOptionOrExit(const ChildLog& log, unsigned options, pid_t launcher);

// Traces name[i]=value[i] while both lists go on; the parent has built the environment
// the program gets from them.
void LogEnvironment(const ChildLog& log, char** envName, char** envValue);

void LogExec(const ChildLog& log, const char* path);
// input becomes descriptor 0, output descriptors 1 and 2; kChildStreamsFailed otherwise.
// From here on the log no longer falls back to descriptor 2.
void ConnectStandardStreamsOrExit(ChildLog& log, int input, int output);
// Only 0, 1 and 2 may reach the program; the log's descriptors stay usable until exec.
// Every open descriptor is reached, those above the descriptor limits included, on any
// kernel; the cost follows the descriptors open, not the limit, wherever close_range or
// /proc works. Runs after the user switch.
void KeepOnlyStandardDescriptorsAcrossExec();
// Executes path. SIGPIPE, which the launch ignores in the agent, goes back to its default
// first: an ignored signal would survive exec into the program. Returns only on failure.
void Exec(const ChildLog& log, const char* path, char* const* argv, char* const* envp);
[[noreturn]] void ExecFailed(const ChildLog& log, int error);

}  // namespace ifxlib
