#include "ChildSteps.h"

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/NewerSystemCalls.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <cstdarg>

#include "DescriptorSweep.h"
#include "LaunchReport.h"

namespace ifxlib {

namespace {

int dup2RetryingEintr(int from, int to) {
    int result;
    do {
        result = ::dup2(from, to);
    } while (result < 0 && errno == EINTR);
    return result;
}

// A pipe end that already has the wanted number stays, but it was made close-on-exec
// like every descriptor the library keeps, so that flag has to go.
bool connectStream(int from, int to) {
    if (from == to) {
        return ::fcntl(to, F_SETFD, 0) == 0;
    }
    return dup2RetryingEintr(from, to) == to;
}

}  // namespace

void LogLine(const ChildLog& log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    EvDebug::VDebugLvlWithFallback(log.event, log.standardError, log.tag, 0, format, args);
    va_end(args);
}

// Level 0 is always written, which is what the process-service child wants of its trace.
void LogTrace(const ChildLog& log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    EvDebug::VDebugLvlWithFallback(log.event, log.standardError, log.tag, log.traceLevel, format,
                                   args);
    va_end(args);
}

void EndChild(int exitCode) {
    ::_exit(exitCode);
}

void FailChild(const ChildLog& log, int error, int exitCode) {
    WriteLaunchFailure(log.launchReport, error, exitCode);
    EndChild(exitCode);
}

void ResetCaughtSignals() {
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        // Numbers the C library keeps for itself fail here and are left alone.
        if (::sigaction(signal, nullptr, &current) != 0) {
            continue;
        }
        const bool caught = (current.sa_flags & SA_SIGINFO) != 0 ||
                            (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
        if (caught) {
            struct sigaction defaults {};
            defaults.sa_handler = SIG_DFL;
            ::sigaction(signal, &defaults, nullptr);
        }
    }
}

void RestoreCallerSignals(const sigset_t* callerSignals) {
    if (callerSignals != nullptr) {
        ::sigprocmask(SIG_SETMASK, callerSignals, nullptr);
    }
}

void CheckUserFoundOrExit(const ChildLog& log, const ResolvedUser& user) {
    if (user.lookupError != 0) {
        LogLine(log, "Child getpwnam failed, errno %d", user.lookupError);
        FailChild(log, user.lookupError, kChildUserFailed);
    }
}

void LogUserChange(const ChildLog& log, const char* name, const ResolvedUser& user) {
    LogLine(log, "Child change user=%s, gid=%d, uid=%d", name, static_cast<int>(user.gid),
            static_cast<int>(user.uid));
}

// The ids are changed with raw system calls: the C library's wrappers make every thread of
// the process change its ids, a synchronisation that a child of a multi-threaded process
// must not attempt (the other threads do not exist in it) and that would change the
// parent's threads in a child sharing its memory.
int SetSupplementaryGroups(const ResolvedUser& user) {
    return ::syscall(SYS_setgroups, static_cast<size_t>(user.groupCount), user.groups.get()) == 0
               ? 0
               : GETLASTERROR();
}

void InitgroupsFailed(const ChildLog& log, int error) {
    LogLine(log, "initgroups() failed, errno=%d", error);
    FailChild(log, error, kChildUserFailed);
}

void SetGroupAndUserOrExit(const ChildLog& log, const ResolvedUser& user) {
    if (::syscall(SYS_setgid, user.gid) != 0) {
        const int error = GETLASTERROR();
        LogLine(log, "Child setgid failed, errno %d", error);
        FailChild(log, error, kChildUserFailed);
    }
    if (::syscall(SYS_setuid, user.uid) != 0) {
        const int error = GETLASTERROR();
        LogLine(log, "Child setuid failed, errno %d", error);
        FailChild(log, error, kChildUserFailed);
    }
}

void ApplyGroupOptionOrExit(const ChildLog& log, unsigned options) {
    if ((options & IfxChildProcess::kOwnProcessGroup) == 0) {
        return;
    }
    if (::setpgid(0, 0) != 0) {
        const int error = GETLASTERROR();
        LogLine(log, "Child setpgid failed, errno %d", error);
        FailChild(log, error, kChildExecFailed);
    }
}

void ApplyLauncherOptionOrExit(const ChildLog& log, unsigned options, pid_t launcher) {
    if ((options & IfxChildProcess::kStopWithLauncher) == 0) {
        return;
    }
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) {
        const int error = GETLASTERROR();
        LogLine(log, "Child cannot follow its launcher, errno %d", error);
        FailChild(log, error, kChildExecFailed);
    }
    // A launcher that ended before the line above went unnoticed: the child then has a
    // new parent, and ends as the signal would have ended it.
    if (::getppid() != launcher) {
        LogLine(log, "Child's launcher has ended");
        FailChild(log, ESRCH, kChildExecFailed);
    }
    // A forked start's launch returns only now: until then its thread keeps living, so the
    // signal cannot miss that thread's end.
    WriteLaunchStage(log.launchReport, LaunchStage::kTiedToLauncher);
}

void LogEnvironment(const ChildLog& log, char** envName, char** envValue) {
    const int pairs = static_cast<int>(CountEnvironmentPairs(envName, envValue));
    for (int i = 0; i < pairs; ++i) {
        LogTrace(log, "Child SETENVIRONMENTVARIABLE(%d): %s=%s", i, envName[i], envValue[i]);
    }
}

void LogExec(const ChildLog& log, const char* path) {
    LogTrace(log, "Child exec %s", path);
}

void ConnectStandardStreamsOrExit(ChildLog& log, int input, int output) {
    // Descriptor 2 is about to become the program's standard error, where a line of ours
    // would read as the program's own output. A copy of the agent's standard error takes
    // its place in the logger (none when the copy cannot be made: such lines are dropped).
    log.standardError = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (!connectStream(input, STDIN_FILENO)) {
        const int error = GETLASTERROR();
        LogLine(log, "Child dup2-STDIN failed");
        FailChild(log, error, kChildStreamsFailed);
    }
    if (!connectStream(output, STDOUT_FILENO)) {
        const int error = GETLASTERROR();
        LogLine(log, "Child dup2-STDOUT failed");
        FailChild(log, error, kChildStreamsFailed);
    }
    if (!connectStream(output, STDERR_FILENO)) {
        const int error = GETLASTERROR();
        LogLine(log, "Child dup2-STDERR failed");
        FailChild(log, error, kChildStreamsFailed);
    }
}

// Marked, not closed: the log file's descriptor must stay usable until exec, since a child
// that has switched users may not be allowed to open the log again. Every way below also
// reaches a descriptor opened before the soft limit was lowered: numbering the descriptors
// up to getdtablesize() would hand such a one to the program.
void KeepOnlyStandardDescriptorsAcrossExec() {
    constexpr int first = STDERR_FILENO + 1;
    // One system call whatever the limit (5.11 and later). The child cannot remember that
    // it failed, it must not write the agent's memory: every launch tries it once.
    if (::syscall(syscalls::kCloseRange, static_cast<unsigned>(first), ~0U,
                  syscalls::kCloseRangeCloexec) == 0) {
        return;
    }
    if (MarkListedDescriptorsFrom(first)) {
        return;
    }
    MarkDescriptorsUpToHardLimitFrom(first);
}

void Exec(const ChildLog& log, const char* path, char* const* argv, char* const* envp) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    if (::sigaction(SIGPIPE, &defaults, nullptr) != 0) {
        LogLine(log, "Child cannot restore SIGPIPE, errno %d", GETLASTERROR());
    }
    // From here on only a failed exec is reported: a child that dies before this record
    // never ran the program.
    WriteLaunchStage(log.launchReport, LaunchStage::kExecuting);
    // JxExecChild, not execve: a child started sharing memory still has every signal
    // blocked here and gets the launching thread's mask back only at the exec itself; in a
    // forked child it is a plain execve.
    JxExecChild(path, argv, envp);
}

void ExecFailed(const ChildLog& log, int error) {
    LogLine(log, "Child exec failed, errno %d", error);
    FailChild(log, error, kChildExecFailed);
}

}  // namespace ifxlib
