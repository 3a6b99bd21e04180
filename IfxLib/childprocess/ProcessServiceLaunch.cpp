// InitializeLinux: the host process service forks and runs PostFork in the child, which
// receives its parameters through an IfxChildParam block.

#include <IfxLib/IfxLib.h>

#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <new>

#include <IfxLib/platform/HostServices.h>

#include "ChildLifetime.h"
#include "ChildPreparation.h"
#include "ChildSteps.h"
#include "LaunchEngine.h"
#include "LaunchParams.h"

namespace {

const char kTag[] = "IfxChildProcess::InitializeLinux";
const char kChildTag[] = " IfxChildProcess::PostFork";
constexpr int kErrorTextSize = 120;
constexpr size_t kTextCapacity = sizeof(IfxChildParam::path);

// The block and the string copies it points to, released together once the fork call
// has returned: the child works on its own copy of both.
struct ParamBlockOwner {
    IfxChildParam* block = nullptr;
    ~ParamBlockOwner() {
        if (block != nullptr) {
            ifxlib::ReleaseParamCopies(block);
            delete block;
        }
    }
};

// Only root may set supplementary groups; for anybody else the list stays as it is.
// Where setting them is refused (EPERM: a user namespace that denies setgroups, a missing
// capability) the child keeps the agent's groups, which is harmless only when they are
// all among the user's own: otherwise the program would run with the agent's groups,
// root's group among them, and the child gives up as for any other error.
void InitializeGroupsOrExit(const ifxlib::ChildLog& log, const ifxlib::ResolvedUser& user) {
    if (::getuid() != 0) {
        return;
    }
    const int error = ifxlib::SetSupplementaryGroups(user);
    if (error == 0) {
        return;
    }
    if (error != EPERM || !user.currentGroupsWithinUsers) {
        ifxlib::InitgroupsFailed(log, error);
    }
    ifxlib::LogLine(log, "initgroups() failed, errno=%d", error);
    ifxlib::LogLine(log, "ignoring EPERM error from initgroups");
}

void SwitchUserOrExit(const ifxlib::ChildLog& log, const char* name,
                      const ifxlib::ResolvedUser& user) {
    ifxlib::CheckUserFoundOrExit(log, user);
    ifxlib::LogUserChange(log, name, user);
    InitializeGroupsOrExit(log, user);
    ifxlib::SetGroupAndUserOrExit(log, user);
}

// The child's side once it has a block and what was prepared for it. Everything it uses
// lives in the block, the preparation or its own stack frame.
[[noreturn]] void RunChild(IfxChildParam* block, const ifxlib::ChildPreparation& prepared) {
    char path[kTextCapacity] = {};
    char ifxUser[kTextCapacity] = {};
    char* argv[20] = {};
    char* envName[16] = {};
    char* envValue[16] = {};
    int phpipepw[2] = {-1, -1};
    int phpipecw[2] = {-1, -1};
    ifxlib::ChildLog log{prepared.event.get(), kChildTag, 0, STDERR_FILENO, prepared.launchReport};
    ifxlib::LogLine(log, "Entering function");

    IfxChildProcess::GetPostForkParam(block, path, argv, envName, envValue, ifxUser, phpipepw,
                                      phpipecw, prepared.event.get());
    ::close(phpipepw[1]);
    ::close(phpipecw[0]);
    ifxlib::ApplyGroupOptionOrExit(log, prepared.options);
    SwitchUserOrExit(log, ifxUser, prepared.user);
    ifxlib::ApplyLauncherOptionOrExit(log, prepared.options, prepared.launcher);
    ifxlib::LogEnvironment(log, envName, envValue);
    ifxlib::LogExec(log, path);
    ifxlib::ConnectStandardStreamsOrExit(log, phpipepw[0], phpipecw[1]);
    ifxlib::KeepOnlyStandardDescriptorsAcrossExec();
    ifxlib::Exec(log, path, argv, prepared.envp);
    ifxlib::ExecFailed(log, GETLASTERROR());
}

// A child sharing the agent's memory (a caller handing PostFork to JxProcess::Spawn with a
// block that SetPostForkParam alone filled) must not prepare for itself: the lookups and
// allocations would run in the agent's memory, beside its threads and their locks. Its
// EvEvent lives on its stack and is given its settings instead of reading the environment,
// which another thread may be changing, so the line goes to the agent's standard error.
[[noreturn]] void RefuseToPrepareSharingMemory() {
    const EvEvent event(nullptr, nullptr);
    const ifxlib::ChildLog log{&event, kChildTag, 0, STDERR_FILENO};
    ifxlib::LogLine(log,
                    "PostFork needs a block prepared by InitializeLinux in a child sharing the "
                    "parent's memory");
    ifxlib::EndChild(ifxlib::kChildExecFailed);
}

}  // namespace

int IfxChildProcess::InitializeLinux(char* path, char** argv, char* ifxUser, char** envName,
                                     char** envValue, EvEvent* event, bool option1,
                                     bool nonBlocking, bool option3, void* /*reserved*/) {
    if (RefuseSecondLaunch(kTag) != 0) {
        return -1;
    }
    m_pevent = event;
    m_boption1 = option1;
    m_bnonblocking = nonBlocking;
    m_boption3 = option3;

    if (const int error = ifxlib::CheckFitsParamBlock(path, argv, ifxUser, envName, envValue);
        error != 0) {
        m_lasterror = error;
        EvDebug::Debug(m_pevent, kTag, "launch does not fit the parameter block: errno=%d", error);
        return -1;
    }
    if (PrepareLaunch(kTag, "Failed to redirect  to /dev/null: errno=%d") != 0) {
        return -1;
    }
    m_pprocess = new (std::nothrow) JxProcess();
    if (m_pprocess == nullptr) {
        EvDebug::Debug(m_pevent, kTag, "new JxProcess failed ");
        return -1;
    }
    ParamBlockOwner params;
    params.block = new (std::nothrow) IfxChildParam;
    if (params.block == nullptr) {
        EvDebug::Debug(m_pevent, kTag, "new IfxChildParam failed");
        return -1;
    }
    SetPostForkParam(params.block, path, argv, envName, envValue, ifxUser, m_phpipepw, m_phpipecw);

    bool started = false;
    int startError = 0;
    bool startedSharingMemory = false;
    const int launchReport = ifxlib::OpenLaunchReport(*m_plifetime);
    {
        // The environment lock is held only while the preparation copies the environment;
        // this thread then waits for a child sharing our memory until it has executed its
        // program, as a caller of posix_spawn does, but nobody else waits with it.
        ifxlib::ChildPreparation prepared =
            ifxlib::PrepareChild(ifxUser, ::getuid() == 0, envName, envValue, true);
        prepared.options = m_plifetime->options;
        prepared.launcher = ::getpid();
        prepared.launchReport = launchReport;
        params.block->prepared = &prepared;
        char errorText[kErrorTextSize] = {};
        ifxlib::LaunchEngine engine = prepared.engine;
        if (engine == ifxlib::LaunchEngine::SharedMemory) {
            // Only blocks filled here go to Spawn: PostFork prepares a foreign block in the
            // child, which only a forked child may do.
            prepared.startedSharingMemory = true;
            started = m_pprocess->SpawnAs(PostFork, params.block, prepared.SwitchesTo(), nullptr);
            startError = GETLASTERROR();
            if (!started && ifxlib::ForkAfterRefusedSharedStart(startError)) {
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
            started = m_pprocess->Fork(PostFork, params.block, errorText, kErrorTextSize);
            startError = GETLASTERROR();
        }
        startedSharingMemory = prepared.startedSharingMemory;
    }
    ifxlib::NoteStart(*m_plifetime, launchReport, started ? m_pprocess->GetChildPid() : -1,
                      startedSharingMemory);
    if (!started) {
        m_lasterror = startError;
        EvDebug::Debug(m_pevent, kTag, "fork failed: errno=%d", startError);
        return -1;
    }
    m_childpid = m_pprocess->GetChildPid();
    EvDebug::Debug(m_pevent, kTag, "Parent: child process pid= %d", m_childpid);
    CloseChildEnds();
    return 0;
}

// Runs in the child. With a block from InitializeLinux it keeps to the rules of
// ChildSteps.h (the child may share the agent's memory); its state lives in RunChild's
// locals.
void IfxChildProcess::PostFork(void* argument) {
    auto* block = static_cast<IfxChildParam*>(argument);
    if (block != nullptr && block->prepared != nullptr) {
        const ifxlib::ChildPreparation& prepared = *block->prepared;
        if (!prepared.startedSharingMemory) {
            ifxlib::ResetCaughtSignals();
            ifxlib::RestoreCallerSignals(prepared.callerSignals);
        }
        RunChild(block, prepared);
    }
    if (JxRunningInChildSharingMemory()) {
        RefuseToPrepareSharingMemory();
    }
    ifxlib::ResetCaughtSignals();
    // A block that InitializeLinux did not fill (a caller handing PostFork to
    // JxProcess::Fork itself): the child prepares for itself, with the lookups,
    // allocation and environment reading that the launch otherwise keeps out of the
    // child. Only a child of fork gets here (see above). The preparation has to live until
    // exec, since the program's environment points into it.
    char ifxUser[kTextCapacity] = {};
    char* envName[16] = {};
    char* envValue[16] = {};
    GetPostForkParam(block, nullptr, nullptr, envName, envValue, ifxUser, nullptr, nullptr,
                     nullptr);
    const ifxlib::ChildPreparation preparedHere = ifxlib::PrepareChild(
        block != nullptr ? ifxUser : nullptr, ::getuid() == 0, envName, envValue, true);
    if (block == nullptr) {
        // Nothing to execute.
        const ifxlib::ChildLog log{preparedHere.event.get(), kChildTag, 0, STDERR_FILENO};
        ifxlib::LogLine(log, "Entering function");
        ifxlib::ExecFailed(log, EINVAL);
    }
    RunChild(block, preparedHere);
}
