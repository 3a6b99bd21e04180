#include "ChildSteps.h"

#include <IfxLib/IfxLib.h>

#include <fcntl.h>
#include <grp.h>
#include <unistd.h>
#include <cerrno>

// The trace lines of the two launches differ only in whether a level gates them.
#define IFX_CHILD_TRACE(log, ...)                                                     \
    do {                                                                              \
        if ((log).traceLevel == 0) {                                                  \
            EvDebug::Debug((log).event, (log).tag, __VA_ARGS__);                      \
        } else {                                                                      \
            EvDebug::DebugLvl((log).event, (log).tag, (log).traceLevel, __VA_ARGS__); \
        }                                                                             \
    } while (0)

extern char** environ;

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

void closeDescriptorsOneByOne(int firstToKeepAbove) {
    for (int fd = ::getdtablesize(); fd > firstToKeepAbove; --fd) {
        ::close(fd);
    }
}

}  // namespace

void EndChild(int exitCode) {
    ::_exit(exitCode);
}

void CheckUserFoundOrExit(const ChildLog& log, const ResolvedUser& user) {
    if (user.lookupError != 0) {
        EvDebug::Debug(log.event, log.tag, "Child getpwnam failed, errno %d", user.lookupError);
        EndChild(kChildUserFailed);
    }
}

void LogUserChange(const ChildLog& log, const char* name, const ResolvedUser& user) {
    EvDebug::Debug(log.event, log.tag, "Child change user=%s, gid=%d, uid=%d", name,
                   static_cast<int>(user.gid), static_cast<int>(user.uid));
}

int SetSupplementaryGroups(const ResolvedUser& user) {
    return ::setgroups(static_cast<size_t>(user.groupCount), user.groups.get()) == 0
               ? 0
               : GETLASTERROR();
}

void InitgroupsFailed(const ChildLog& log, int error) {
    EvDebug::Debug(log.event, log.tag, "initgroups() failed, errno=%d", error);
    EndChild(kChildUserFailed);
}

void SetGroupAndUserOrExit(const ChildLog& log, const ResolvedUser& user) {
    if (::setgid(user.gid) != 0) {
        EvDebug::Debug(log.event, log.tag, "Child setgid failed, errno %d", GETLASTERROR());
        EndChild(kChildUserFailed);
    }
    if (::setuid(user.uid) != 0) {
        EvDebug::Debug(log.event, log.tag, "Child setuid failed, errno %d", GETLASTERROR());
        EndChild(kChildUserFailed);
    }
}

void ApplyEnvironment(const ChildLog& log, char** envName, char** envValue,
                      ChildEnvironment& environment) {
    const int pairs = static_cast<int>(CountEnvironmentPairs(envName, envValue));
    for (int i = 0; i < pairs; ++i) {
        IFX_CHILD_TRACE(log, "Child SETENVIRONMENTVARIABLE(%d): %s=%s", i, envName[i], envValue[i]);
    }
    if (char** entries = environment.Entries()) {
        environ = entries;
    }
}

void LogExec(const ChildLog& log, const char* path) {
    IFX_CHILD_TRACE(log, "Child exec %s", path);
}

void ConnectStandardStreamsOrExit(const ChildLog& log, int input, int output) {
    if (!connectStream(input, STDIN_FILENO)) {
        EvDebug::Debug(log.event, log.tag, "Child dup2-STDIN failed");
        EndChild(kChildStreamsFailed);
    }
    if (!connectStream(output, STDOUT_FILENO)) {
        EvDebug::Debug(log.event, log.tag, "Child dup2-STDOUT failed");
        EndChild(kChildStreamsFailed);
    }
    if (!connectStream(output, STDERR_FILENO)) {
        EvDebug::Debug(log.event, log.tag, "Child dup2-STDERR failed");
        EndChild(kChildStreamsFailed);
    }
}

void CloseDescriptorsFrom3() {
    // One system call whatever the descriptor limit, and it also reaches descriptors
    // opened before the soft limit was lowered, which a loop up to the limit misses.
    if (::close_range(3, ~0U, 0) == 0) {
        return;
    }
    closeDescriptorsOneByOne(STDERR_FILENO);
}

void ExecFailed(const ChildLog& log, int error) {
    EvDebug::Debug(log.event, log.tag, "Child exec failed, errno %d", error);
    EndChild(kChildExecFailed);
}

}  // namespace ifxlib

#undef IFX_CHILD_TRACE
