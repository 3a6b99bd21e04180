#pragma once

// Shared by the token splitters: the input's length bound, and allocation where every
// failed request is logged under the caller's tag with the byte count, so that a failing
// split can be traced in the agent's log.

#include <cstddef>

namespace ifxlib {

// Token counts and the builders' working capacity are ints, so an input may have at most
// INT_MAX bytes. False with errno EOVERFLOW for a longer one.
bool isSplittable(const char* str);

// malloc(bytes), or null after logging "error: malloc of <bytes> bytes failed" under tag.
void* allocateOrLog(std::size_t bytes, const char* tag);

// A malloc copy of the length bytes at text plus a NUL, or null after logging under tag.
char* copyOrLog(const char* text, std::size_t length, const char* tag);

}  // namespace ifxlib
