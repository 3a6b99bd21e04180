// Initialize: the child is forked here and executes the program itself.

#include <IfxLib/IfxLib.h>

#include <grp.h>
#include <unistd.h>
#include <cerrno>

#include <IfxLib/platform/HostServices.h>

#include "ChildPreparation.h"
#include "ChildSteps.h"

namespace {

const char kTag[] = "IfxChildProcess::Initialize";
const char kSleepMarker[] = "/tmp/clifxagentchild.sleep";
constexpr unsigned long kSleepMarkerPauseMicroseconds = 10000;

// Lets someone attach a debugger to a fresh child before it does anything.
void HoldWhileSleepMarkerExists() {
    while (::access(kSleepMarker, F_OK) == 0) {
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
    m_pevent = event;
    m_boption1 = option1;
    m_bnonblocking = nonBlocking;
    m_boption3 = option3;
    if (m_pevent == nullptr) {
        if (m_pownedevent == nullptr) {
            m_pownedevent = new EvEvent();
        }
        m_pevent = m_pownedevent;
    }
    EvDebug::Debug(m_pevent, kTag, "enter");

    if (PrepareLaunch(kTag, "Failed to redirect to /dev/null: errno=%d") != 0) {
        return -1;
    }
    ifxlib::ChildPreparation prepared{
        ifxUser != nullptr ? ifxlib::ResolveUser(ifxUser, true) : ifxlib::ResolvedUser(),
        ifxlib::ChildEnvironment(envName, envValue)};
    m_childpid = ::fork();
    if (m_childpid < 0) {
        m_lasterror = GETLASTERROR();
        EvDebug::Debug(m_pevent, kTag, "fork failed: errno=%d", static_cast<int>(m_lasterror));
        return -1;
    }
    if (m_childpid == 0) {
        RunDirectChild(path, argv, ifxUser, envName, envValue, prepared);
    }
    EvDebug::DebugLvl(m_pevent, kTag, 2, "Parent: child pid= %d", m_childpid);
    CloseChildEnds();
    return 0;
}

void IfxChildProcess::RunDirectChild(char* path, char** argv, char* ifxUser, char** envName,
                                     char** envValue, ifxlib::ChildPreparation& prepared) {
    const ifxlib::ChildLog log{m_pevent, kTag, 2};
    HoldWhileSleepMarkerExists();
    EvDebug::DebugLvl(m_pevent, kTag, 2, "Child: child pid(expected 0)= %d", m_childpid);
    ::close(m_phpipepw[1]);
    ::close(m_phpipecw[0]);
    if (ifxUser != nullptr) {
        SwitchUserOrExit(log, ifxUser, prepared.user);
    }
    ifxlib::ApplyEnvironment(log, envName, envValue, prepared.environment);
    ifxlib::LogExec(log, path);
    ifxlib::ConnectStandardStreamsOrExit(log, m_phpipepw[0], m_phpipecw[1]);
    ifxlib::CloseDescriptorsFrom3();
    if (argv != nullptr) {
        ::execv(path, argv);
    } else {
        ::execl(path, path, static_cast<char*>(nullptr));
    }
    ifxlib::ExecFailed(log, GETLASTERROR());
}
