#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <IfxLib/IfxLib.h>

#include "TokenAllocation.h"

namespace {

// Every token but the last needs a separator after it, so an input of length L holds at
// most L / 2 + 1 tokens: one pass into an array of that size, no counting pass.
int workingCapacity(const char* str) {
    return static_cast<int>(std::strlen(str) / 2 + 1);
}

// Sizes a working array for str, lets splitInto fill it and returns an array of exactly
// the tokens found. On any failure nothing allocated here reaches the caller.
template <typename SplitInto>
char** buildTokenArray(const char* str, int* count, const char* tag, SplitInto splitInto) {
    if (!ifxlib::isSplittable(str)) {
        return nullptr;
    }
    const int capacity = workingCapacity(str);
    const std::size_t workingBytes = static_cast<std::size_t>(capacity) * sizeof(char*);
    char** working = static_cast<char**>(ifxlib::allocateOrLog(workingBytes, tag));
    if (working == nullptr) {
        return nullptr;
    }
    // Zero-filled, so that after a failed split the tokens made so far can be released
    // over the whole capacity.
    std::memset(working, 0, workingBytes);

    *count = splitInto(working);
    if (*count < 0) {
        free_split_array(capacity, working);
        return nullptr;
    }
    const std::size_t resultBytes = static_cast<std::size_t>(*count) * sizeof(char*);
    char** result = static_cast<char**>(ifxlib::allocateOrLog(resultBytes, tag));
    if (result == nullptr) {
        free_split_array(*count, working);
        return nullptr;
    }
    if (resultBytes > 0) {
        std::memcpy(result, working, resultBytes);
    }
    std::free(working);
    return result;
}

}  // namespace

char** CommandLineToArgv(const char* str, int* count, const char* separators) {
    if (str == nullptr || count == nullptr || separators == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return buildTokenArray(str, count, "CommandLineToArgv",
                           [&](char** working) { return split(str, working, separators); });
}

char** SplitLine(const char* str, int* count, const char* separators, const char* subSeparators) {
    if (str == nullptr || count == nullptr || separators == nullptr || subSeparators == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return buildTokenArray(str, count, "SplitLine", [&](char** working) {
        return split(str, working, separators, subSeparators);
    });
}

void free_split_array(int count, char** tokens) {
    if (tokens == nullptr) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        std::free(tokens[i]);
    }
    std::free(tokens);
}
