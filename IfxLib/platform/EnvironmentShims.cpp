#include <IfxLib/IfxLib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <IfxLib/platform/HostServices.h>

#include "EnvironmentLock.h"

int GETLASTERROR() {
    return errno;
}

unsigned int GETENVIRONMENTVARIABLE(const char* name, char* buffer, unsigned int size) {
    if (name == nullptr) {
        errno = EINVAL;
        return 0;
    }
    std::string value;
    {
        const auto environmentLock = ifxlib::LockEnvironment();
        char* stored = std::getenv(name);
        if (stored == nullptr) {
            return 0;
        }
        value = stored;
        trim_both(value);
        // Later readers of the variable, and children started from now on, see it trimmed,
        // through an entry of its own: the one found may be memory the caller gave putenv,
        // read-only (a string literal) or still in use. An entry with nothing to trim is
        // left as is. Should the new one be refused (no memory), only this reader gets the
        // trimmed value.
        if (value.size() != std::strlen(stored)) {
            const int saved = errno;
            ::setenv(name, value.c_str(), 1);
            errno = saved;
        }
    }

    const size_t length = value.size();
    if (buffer != nullptr && length < size) {
        std::memcpy(buffer, value.c_str(), length + 1);
        return static_cast<unsigned int>(length);
    }
    return static_cast<unsigned int>(length + 1);
}

int SETENVIRONMENTVARIABLE(const char* name, const char* value) {
    if (name == nullptr || value == nullptr) {
        errno = EINVAL;
        return 0;
    }
    const size_t composedSize = std::strlen(name) + std::strlen(value) + 2;
    char* composed = static_cast<char*>(std::malloc(composedSize));
    if (composed == nullptr) {
        return 0;
    }
    std::snprintf(composed, composedSize, "%s=%s", name, value);

    int result = 0;
    // putenv keeps the very string it is given, so it gets a copy of its own that is
    // never freed.
    char* entry = ::strdup(composed);
    if (entry != nullptr) {
        const auto environmentLock = ifxlib::LockEnvironment();
        result = ::putenv(entry) == 0 ? 1 : 0;  // NOLINT(clang-analyzer-unix.Malloc): kept
    }
    const int saved = errno;
    std::free(composed);
    errno = saved;
    return result;
}
