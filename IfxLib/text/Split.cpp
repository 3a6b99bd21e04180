#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <IfxLib/IfxLib.h>

#include "TokenAllocation.h"

namespace {

constexpr const char* kTag = "split";

struct FreeDeleter {
    void operator()(char* block) const { std::free(block); }
};
using WorkingCopy = std::unique_ptr<char, FreeDeleter>;

// Token counts are ints, so an input must stay below 2^31 bytes.
bool isSplittable(const char* str) {
    if (std::strlen(str) >= static_cast<std::size_t>(INT_MAX)) {
        errno = EOVERFLOW;
        return false;
    }
    return true;
}

// STRTOK writes into what it tokenises; the caller's input stays as it was.
WorkingCopy makeWorkingCopy(const char* str) {
    return WorkingCopy(ifxlib::copyOrLog(str, std::strlen(str), kTag));
}

// Appends a copy of token at tokens[count]. On failure the entry is left null, so a
// caller that zero-filled its array can still release it whole.
bool storeToken(const char* token, char** tokens, int& count) {
    tokens[count] = ifxlib::copyOrLog(token, std::strlen(token), kTag);
    if (tokens[count] == nullptr) {
        return false;
    }
    ++count;
    return true;
}

}  // namespace

int split(const char* str, char** tokens, const char* separators) {
    if (str == nullptr || tokens == nullptr || separators == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (!isSplittable(str)) {
        return -1;
    }
    WorkingCopy copy = makeWorkingCopy(str);
    if (!copy) {
        return -1;
    }
    int count = 0;
    char* save = nullptr;
    for (char* token = STRTOK(copy.get(), separators, &save); token != nullptr;
         token = STRTOK(nullptr, separators, &save)) {
        if (!storeToken(token, tokens, count)) {
            return -1;
        }
    }
    return count;
}

int split(const char* str, char** tokens, const char* separators, const char* subSeparators) {
    if (str == nullptr || tokens == nullptr || separators == nullptr || subSeparators == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (!isSplittable(str)) {
        return -1;
    }
    WorkingCopy copy = makeWorkingCopy(str);
    if (!copy) {
        return -1;
    }
    int count = 0;
    char* segmentSave = nullptr;
    for (char* segment = STRTOK(copy.get(), separators, &segmentSave); segment != nullptr;
         segment = STRTOK(nullptr, separators, &segmentSave)) {
        char* tokenSave = nullptr;
        for (char* token = STRTOK(segment, subSeparators, &tokenSave); token != nullptr;
             token = STRTOK(nullptr, subSeparators, &tokenSave)) {
            if (!storeToken(token, tokens, count)) {
                return -1;
            }
        }
    }
    return count;
}
