// Initialize: the child is started here and executes the program itself.

#include <IfxLib/IfxLib.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <IfxLib/platform/HostServices.h>

#include "ChildLifetime.h"
#include "ChildPreparation.h"
#include "ChildSteps.h"
#include "LaunchEngine.h"

namespace {

const char kTag[] = "IfxChildProcess::Initialize";
const char kSleepMarker[] = "/tmp/clifxagentchild.sleep";
constexpr unsigned long kSleepMarkerPauseMicroseconds = 10000;

// Any local user can create a file in /tmp, so only a marker that root or the agent's own
// user made, and that nobody else can have changed, may hold a child. lstat: a symbolic
// link someone planted to a file of root's must not count as root's marker.
bool MarkerIsTrusted(const struct stat& marker, uid_t agentUser) {
    return S_ISREG(marker.st_mode) && (marker.st_uid == 0 || marker.st_uid == agentUser) &&
           (marker.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Whether a child started now would be held by the marker, as far as the parent can tell.
bool SleepMarkerHoldsChild(uid_t agentUser) {
    struct stat marker {};
    return ::lstat(kSleepMarker, &marker) == 0 && MarkerIsTrusted(marker, agentUser);
}

// Lets someone attach a debugger to a fresh child before it does anything. Runs in the
// child: lstat, nanosleep and one-write log lines only.
void HoldWhileSleepMarkerExists(const ifxlib::ChildLog& log, uid_t agentUser) {
    struct stat marker {};
    while (::lstat(kSleepMarker, &marker) == 0) {
        if (!MarkerIsTrusted(marker, agentUser)) {
            ifxlib::LogLine(log,
                            "Child ignores %s: not a regular file of uid 0 or %d that only its "
                            "owner may write",
                            kSleepMarker, static_cast<int>(agentUser));
            return;
        }
        ZUSLEEP_InTeRnAl(kSleepMarkerPauseMicroseconds, "IfxLib", __LINE__);
    }
}

void SwitchUserOrExit(const ifxlib::ChildLog& log, const char* name,
                      const ifxlib::ResolvedUser& user) {
    ifxlib::CheckUserFoundOrExit(log, user);
    if (const int error = ifxlib::SetSupplementaryGroups(user); error != 0) {
        ifxlib::InitgroupsFailed(log, error);
    }
    ifxlib::LogUserChange(log, name, user);
    ifxlib::SetGroupAndUserOrExit(log, user);
}

}  // namespace

int IfxChildProcess::Initialize(char* path, char** argv, char* ifxUser, char** envName,
                                char** envValue, EvEvent* event, bool option1, bool nonBlocking,
                                bool option3, void* /*reserved*/) {
    if (RefuseSecondLaunch(kTag) != 0) {
        return -1;
    }
    m_pevent = event;
    m_boption1 = option1;
    m_bnonblocking = nonBlocking;
    m_boption3 = option3;
    if (m_pevent == nullptr) {
        if (m_plifetime->ownedEvent == nullptr) {
            m_plifetime->ownedEvent = ifxlib::MakeEventFromEnvironment();
        }
        m_pevent = m_plifetime->ownedEvent.get();
    }
    EvDebug::Debug(m_pevent, kTag, "enter");
    if (path == nullptr) {
        m_lasterror = EINVAL;
        EvDebug::Debug(m_pevent, kTag, "no program to execute: errno=%d", EINVAL);
        return -1;
    }

    if (PrepareLaunch(kTag, "Failed to redirect to /dev/null: errno=%d") != 0) {
        return -1;
    }
    pid_t pid = -1;
    int startError = 0;
    bool startedSharingMemory = false;
    const int launchReport = ifxlib::OpenLaunchReport(*m_plifetime);
    {
        // The environment lock is held only while the preparation copies the environment;
        // this thread then waits for a child sharing our memory until it has executed its
        // program, as a caller of posix_spawn does, but nobody else waits with it.
        ifxlib::ChildPreparation prepared =
            ifxlib::PrepareChild(ifxUser, true, envName, envValue, false);
        prepared.options = m_plifetime->options;
        prepared.launcher = ::getpid();
        prepared.launchReport = launchReport;
        ifxlib::LaunchEngine engine = prepared.engine;
        // A child that shares our memory holds this thread until it executes, so a child
        // held by the sleep marker would hold the agent's thread with it: with a marker in
        // place the child is forked. A marker made between this look and the child's own
        // still holds the child, and this thread with it, until it is removed.
        if (engine == ifxlib::LaunchEngine::SharedMemory &&
            SleepMarkerHoldsChild(prepared.agentUser)) {
            engine = ifxlib::LaunchEngine::Fork;
        }
        if (engine == ifxlib::LaunchEngine::SharedMemory) {
            prepared.startedSharingMemory = true;
            // Everything the child reads, on this thread's stack, which stays put until
            // the child has executed or ended.
            struct DirectStart {
                IfxChildProcess* self;
                char* path;
                char** argv;
                char* ifxUser;
                char** envName;
                char** envValue;
                const ifxlib::ChildPreparation* prepared;
            } start{this, path, argv, ifxUser, envName, envValue, &prepared};
            // A member's lambda may call the private RunDirectChild.
            auto body = [](void* argument) {
                const auto* s = static_cast<const DirectStart*>(argument);
                s->self->RunDirectChild(s->path, s->argv, s->ifxUser, s->envName, s->envValue,
                                        *s->prepared);
            };
            pid = JxStartChildSharingMemoryAs(body, &start, prepared.SwitchesTo(), &startError);
            if (pid < 0 && ifxlib::ForkAfterRefusedSharedStart(startError)) {
                EvDebug::Debug(m_pevent, kTag,
                               "cannot start the child sharing memory: errno=%d; forking",
                               startError);
                prepared.startedSharingMemory = false;
                engine = ifxlib::LaunchEngine::Fork;
            }
        }
        if (engine == ifxlib::LaunchEngine::Fork) {
            const ifxlib::AllSignalsBlocked blocked;
            prepared.callerSignals = blocked.CallerSignals();
            pid = ::fork();
            startError = GETLASTERROR();
            if (pid == 0) {
                RunDirectChild(path, argv, ifxUser, envName, envValue, prepared);
            }
        }
        startedSharingMemory = prepared.startedSharingMemory;
    }
    ifxlib::NoteStart(*m_plifetime, launchReport, pid, startedSharingMemory);
    // The start's result, -1 after a failure as after a failed fork.
    m_childpid = pid;
    if (pid < 0) {
        m_lasterror = startError;
        EvDebug::Debug(m_pevent, kTag, "fork failed: errno=%d", static_cast<int>(m_lasterror));
        return -1;
    }
    EvDebug::DebugLvl(m_pevent, kTag, 2, "Parent: child pid= %d", m_childpid);
    CloseChildEnds();
    return 0;
}

// The child, started sharing the agent's memory or forked. It keeps to the rules of
// ChildSteps.h: it reads the object and what the parent prepared, and writes nothing but
// its own stack, not even m_childpid or m_lasterror (its state lives in locals), which is
// why the pid line logs a literal 0.
void IfxChildProcess::RunDirectChild(char* path, char** argv, char* ifxUser, char** envName,
                                     char** envValue, const ifxlib::ChildPreparation& prepared) {
    if (!prepared.startedSharingMemory) {
        ifxlib::ResetCaughtSignals();
        ifxlib::RestoreCallerSignals(prepared.callerSignals);
    }
    ifxlib::ChildLog log{m_pevent, kTag, 2, STDERR_FILENO, prepared.launchReport};
    HoldWhileSleepMarkerExists(log, prepared.agentUser);
    ifxlib::LogTrace(log, "Child: child pid(expected 0)= %d", 0);
    ::close(m_phpipepw[1]);
    ::close(m_phpipecw[0]);
    ifxlib::ApplyGroupOptionOrExit(log, prepared.options);
    if (ifxUser != nullptr) {
        SwitchUserOrExit(log, ifxUser, prepared.user);
    }
    ifxlib::ApplyLauncherOptionOrExit(log, prepared.options, prepared.launcher);
    ifxlib::LogEnvironment(log, envName, envValue);
    ifxlib::LogExec(log, path);
    ifxlib::ConnectStandardStreamsOrExit(log, m_phpipepw[0], m_phpipecw[1]);
    ifxlib::KeepOnlyStandardDescriptorsAcrossExec();
    // Without an argument vector the program gets its own path as its only argument.
    char* pathOnly[] = {path, nullptr};
    ifxlib::Exec(log, path, argv != nullptr ? argv : pathOnly, prepared.envp);
    ifxlib::ExecFailed(log, GETLASTERROR());
}
