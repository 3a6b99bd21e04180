#pragma once

// What the parent works out for a child before the fork. Between fork and exec the child
// allocates nothing, takes no lock, reads no environment variable and writes no memory
// but its own stack: it only applies what was prepared here. A child forked from a
// multi-threaded process could otherwise find a lock held for ever by a thread that does
// not exist in it, and a child that shares the parent's memory until exec would
// otherwise change the parent's state under it.

#include <signal.h>
#include <sys/types.h>

#include <memory>

#include <IfxLib/platform/HostServices.h>

#include "ChildEnvironment.h"
#include "LaunchEngine.h"
#include "UserResolution.h"

namespace ifxlib {

struct ChildPreparation {
    ResolvedUser user;
    // The program's environment: a copy the launch owns (ChildEnvironment.h).
    ChildEnvironment environment;
    char* const* envp = nullptr;
    // How the child is started, as IFXLIB_LAUNCH said in that copy.
    LaunchEngine engine = LaunchEngine::SharedMemory;
    // The process-service child's own logging context, made from JX_LOG_FILE and
    // JX_DEBUG_LEVEL as the copy holds them.
    std::unique_ptr<EvEvent> event;
    // The agent's effective user: only a sleep marker of root or of this user counts.
    uid_t agentUser = 0;
    // The caller's signal mask, for the child to put back once its signal handlers are the
    // defaults; null when the parent did not block signals around the fork.
    const sigset_t* callerSignals = nullptr;
    // The ids the child switches to, when it switches user (a user was named and found);
    // a start sharing memory counts for the agent's dumpable flag only if they differ from
    // the agent's.
    bool switchesUser = false;
    JxChildCredentials switchTo{};
    const JxChildCredentials* SwitchesTo() const { return switchesUser ? &switchTo : nullptr; }
    // Set when the child is started with JxStartChildSharingMemory, which has already set
    // caught signals back to their defaults and keeps every signal blocked until
    // JxExecChild puts the caller's mask back: the child must neither repeat the one nor
    // unblock early.
    bool startedSharingMemory = false;
    // The launch options (IfxChildProcess::kOwnProcessGroup, kStopWithLauncher), the
    // process the child must outlive no longer than with kStopWithLauncher, and the write
    // end of the launch's report pipe (-1: no report).
    unsigned options = 0;
    pid_t launcher = 0;
    int launchReport = -1;
};

// Everything a child needs, worked out in the parent. The environment lock is held only
// while the process environment (and with it IFXLIB_LAUNCH, JX_LOG_FILE and
// JX_DEBUG_LEVEL) is copied into the preparation; the user lookup (user with its
// supplementary groups when withGroups is set; none when user is null), the pairs, the
// child's own EvEvent (withEvent) and the start of the child come after it, so that a
// name service or an exec that hangs holds this launch only, never the environment.
ChildPreparation PrepareChild(const char* user, bool withGroups, char** envName, char** envValue,
                              bool withEvent);

// An EvEvent made from JX_LOG_FILE and JX_DEBUG_LEVEL, read under the environment lock;
// the file is opened after the lock is released.
std::unique_ptr<EvEvent> MakeEventFromEnvironment();

// Blocks every signal of the calling thread for the life of the object, so that no
// handler of the parent runs in a child before the child has reset them.
class AllSignalsBlocked {
  public:
    AllSignalsBlocked();
    ~AllSignalsBlocked();
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

    // The mask to restore, or null when blocking failed and nothing is to be restored.
    const sigset_t* CallerSignals() const { return m_blocked ? &m_saved : nullptr; }

  private:
    sigset_t m_saved;
    bool m_blocked;
};

}  // namespace ifxlib
