#include "ChildPreparation.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <IfxLib/platform/EnvironmentLock.h>

namespace ifxlib {

ChildPreparation PrepareChild(const char* user, bool withGroups, char** envName, char** envValue,
                              bool withEvent) {
    ChildPreparation prepared;
    prepared.environment.CopyProcessEnvironment(envName, envValue);
    // Read from the copy, not from the process: the environment as the launch found it,
    // without the lock.
    prepared.engine = ChooseLaunchEngine(prepared.environment.Find(kLaunchEngineVariable));
    if (withEvent) {
        prepared.event = std::make_unique<EvEvent>(prepared.environment.Find("JX_LOG_FILE"),
                                                   prepared.environment.Find("JX_DEBUG_LEVEL"));
    }
    prepared.environment.SetPairs(envName, envValue);
    prepared.envp = prepared.environment.Entries();
    if (user != nullptr) {
        prepared.user = ResolveUser(user, withGroups);
        prepared.switchesUser = prepared.user.lookupError == 0;
        prepared.switchTo = JxChildCredentials{prepared.user.uid, prepared.user.gid};
    }
    prepared.agentUser = ::geteuid();
    return prepared;
}

std::unique_ptr<EvEvent> MakeEventFromEnvironment() {
    std::optional<std::string> logFile;
    std::optional<std::string> debugLevel;
    {
        const auto environmentLock = LockEnvironment();
        if (const char* value = std::getenv("JX_LOG_FILE")) {
            logFile = value;
        }
        if (const char* value = std::getenv("JX_DEBUG_LEVEL")) {
            debugLevel = value;
        }
    }
    return std::make_unique<EvEvent>(logFile ? logFile->c_str() : nullptr,
                                     debugLevel ? debugLevel->c_str() : nullptr);
}

AllSignalsBlocked::AllSignalsBlocked() : m_saved(), m_blocked(false) {
    sigset_t all;
    ::sigfillset(&all);
    m_blocked = ::pthread_sigmask(SIG_SETMASK, &all, &m_saved) == 0;
}

AllSignalsBlocked::~AllSignalsBlocked() {
    if (m_blocked) {
        ::pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
    }
}

}  // namespace ifxlib
