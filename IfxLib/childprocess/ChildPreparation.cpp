#include "ChildPreparation.h"

#include <pthread.h>
#include <unistd.h>

extern char** environ;

namespace ifxlib {

ChildPreparation PrepareChild(const char* user, bool withGroups, char** envName, char** envValue,
                              bool withEvent) {
    ChildPreparation prepared;
    if (user != nullptr) {
        prepared.user = ResolveUser(user, withGroups);
    }
    prepared.environment = ChildEnvironment(envName, envValue);
    char** entries = prepared.environment.Entries();
    // An agent that cleared its environment has a null environ; its program gets an
    // empty one, as execve with a null list would give it.
    static char* noEnvironment[] = {nullptr};
    prepared.envp = entries != nullptr ? entries : environ != nullptr ? environ : noEnvironment;
    if (withEvent) {
        prepared.event = std::make_unique<EvEvent>();
    }
    prepared.agentUser = ::geteuid();
    return prepared;
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
