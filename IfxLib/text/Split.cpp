#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include <IfxLib/IfxLib.h>

#include "TokenAllocation.h"

namespace {

constexpr const char* kTag = "split";

struct FreeDeleter {
    void operator()(char* block) const { std::free(block); }
};
using WorkingCopy = std::unique_ptr<char, FreeDeleter>;

// What both overloads start with: their arguments checked, and a copy of str for STRTOK
// to write into, so that the caller's input stays as it was. Null when the split cannot
// go on (errno set, or the failed allocation logged).
WorkingCopy startSplit(const char* str, char** tokens,
                       std::initializer_list<const char*> separatorSets) {
    bool missing = str == nullptr || tokens == nullptr;
    for (const char* separators : separatorSets) {
        missing = missing || separators == nullptr;
    }
    if (missing) {
        errno = EINVAL;
        return nullptr;
    }
    if (!ifxlib::isSplittable(str)) {
        return nullptr;
    }
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
    WorkingCopy copy = startSplit(str, tokens, {separators});
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
    WorkingCopy copy = startSplit(str, tokens, {separators, subSeparators});
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
