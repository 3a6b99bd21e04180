// InitializeLinux: the host process service forks and runs PostFork in the child, which
// receives its parameters through an IfxChildParam block.

#include <IfxLib/IfxLib.h>

#include <grp.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <new>

#include <IfxLib/platform/HostServices.h>

#include "ChildPreparation.h"
#include "ChildSteps.h"
#include "LaunchParams.h"

namespace {

const char kTag[] = "IfxChildProcess::InitializeLinux";
const char kChildTag[] = " IfxChildProcess::PostFork";
constexpr int kErrorTextSize = 120;

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
void InitializeGroupsOrExit(const ifxlib::ChildLog& log, const ifxlib::ResolvedUser& user) {
    if (::getuid() != 0) {
        return;
    }
    const int error = ifxlib::SetSupplementaryGroups(user);
    if (error == 0) {
        return;
    }
    if (error != EPERM) {
        ifxlib::InitgroupsFailed(log, error);
    }
    EvDebug::Debug(log.event, log.tag, "initgroups() failed, errno=%d", error);
    EvDebug::Debug(log.event, log.tag, "ignoring EPERM error from initgroups");
}

void SwitchUserOrExit(const ifxlib::ChildLog& log, const char* name,
                      const ifxlib::ResolvedUser& user) {
    ifxlib::CheckUserFoundOrExit(log, user);
    ifxlib::LogUserChange(log, name, user);
    InitializeGroupsOrExit(log, user);
    ifxlib::SetGroupAndUserOrExit(log, user);
}

}  // namespace

int IfxChildProcess::InitializeLinux(char* path, char** argv, char* ifxUser, char** envName,
                                     char** envValue, EvEvent* event, bool option1,
                                     bool nonBlocking, bool option3, void* /*reserved*/) {
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
    ifxlib::ChildPreparation prepared{ifxlib::ResolveUser(ifxUser, ::getuid() == 0),
                                      ifxlib::ChildEnvironment(envName, envValue)};
    params.block->prepared = &prepared;

    char errorText[kErrorTextSize] = {};
    if (!m_pprocess->Fork(PostFork, params.block, errorText, kErrorTextSize)) {
        m_lasterror = GETLASTERROR();
        EvDebug::Debug(m_pevent, kTag, "fork failed: errno=%d", static_cast<int>(m_lasterror));
        return -1;
    }
    m_childpid = m_pprocess->GetChildPid();
    EvDebug::Debug(m_pevent, kTag, "Parent: child process pid= %d", m_childpid);
    CloseChildEnds();
    return 0;
}

void IfxChildProcess::PostFork(void* argument) {
    // Never released: the process image is replaced or the child ends.
    EvEvent* event = new EvEvent();
    char path[4096] = {};
    char ifxUser[4096] = {};
    char* argv[20] = {};
    char* envName[16] = {};
    char* envValue[16] = {};
    int phpipepw[2] = {0, 0};
    int phpipecw[2] = {0, 0};
    const ifxlib::ChildLog log{event, kChildTag, 0};
    EvDebug::Debug(event, kChildTag, "Entering function");

    const IfxChildParam* block = static_cast<IfxChildParam*>(argument);
    GetPostForkParam(static_cast<IfxChildParam*>(argument), path, argv, envName, envValue, ifxUser,
                     phpipepw, phpipecw, event);
    ::close(phpipepw[1]);
    ::close(phpipecw[0]);
    ifxlib::ChildPreparation preparedHere;
    ifxlib::ChildPreparation* prepared = block->prepared;
    if (prepared == nullptr) {
        // A block that did not come from InitializeLinux: prepare here. It has to live
        // until exec, since environ will point into it.
        preparedHere = {ifxlib::ResolveUser(ifxUser, ::getuid() == 0),
                        ifxlib::ChildEnvironment(envName, envValue)};
        prepared = &preparedHere;
    }
    SwitchUserOrExit(log, ifxUser, prepared->user);
    ifxlib::ApplyEnvironment(log, envName, envValue, prepared->environment);
    ifxlib::LogExec(log, path);
    ifxlib::ConnectStandardStreamsOrExit(log, phpipepw[0], phpipecw[1]);
    ifxlib::CloseDescriptorsFrom3();
    ::execv(path, argv);
    ifxlib::ExecFailed(log, GETLASTERROR());
}
