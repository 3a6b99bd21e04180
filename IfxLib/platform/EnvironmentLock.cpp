#include "EnvironmentLock.h"

namespace ifxlib {

std::unique_lock<std::mutex> LockEnvironment() {
    // Never destroyed: a launch or a shim may still run on another thread while the
    // process exits.
    static std::mutex* const environmentMutex = new std::mutex;
    return std::unique_lock<std::mutex>(*environmentMutex);
}

}  // namespace ifxlib
