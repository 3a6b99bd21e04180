#include "TokenAllocation.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <IfxLib/platform/HostServices.h>

namespace ifxlib {

bool isSplittable(const char* str) {
    if (std::strlen(str) > static_cast<std::size_t>(INT_MAX)) {
        errno = EOVERFLOW;
        return false;
    }
    return true;
}

void* allocateOrLog(std::size_t bytes, const char* tag) {
    void* block = std::malloc(bytes);
    if (block == nullptr) {
        // Made only now, so that splits that succeed pay nothing for logging. Building
        // an EvEvent allocates no heap memory, so it works while malloc is failing.
        EvEvent event;
        EvDebug::Debug(&event, tag, "error: malloc of %ld bytes failed", static_cast<long>(bytes));
    }
    return block;
}

char* copyOrLog(const char* text, std::size_t length, const char* tag) {
    char* copy = static_cast<char*>(allocateOrLog(length + 1, tag));
    if (copy != nullptr) {
        std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

}  // namespace ifxlib
