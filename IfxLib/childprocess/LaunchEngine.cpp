#include "LaunchEngine.h"

#include <cerrno>
#include <cstring>

namespace {

// Sanitizers intercept calls the child makes (_exit, signal functions, execve) and their
// interceptors keep state and take locks of their own, in the agent's memory when the
// child shares it; they are only correct after fork.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
#else
constexpr bool kSanitizedBuild = false;
#endif

}  // namespace

namespace ifxlib {

LaunchEngine ChooseLaunchEngine(const char* setting) {
    if (kSanitizedBuild) {
        return LaunchEngine::Fork;
    }
    if (setting != nullptr && std::strcmp(setting, "fork") == 0) {
        return LaunchEngine::Fork;
    }
    return LaunchEngine::SharedMemory;
}

bool ForkAfterRefusedSharedStart(int error) {
    return error == ENOSYS || error == EPERM || error == EACCES || error == ENOMEM;
}

}  // namespace ifxlib
