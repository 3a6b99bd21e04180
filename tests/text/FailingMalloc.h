#pragma once

#include <cstddef>

// A malloc for this test binary that can be told to fail: it replaces the allocator of
// the whole process, libIfxLib included, and otherwise forwards to the next malloc in
// the lookup order (the C library's, or the sanitizer's under AddressSanitizer).
namespace failing_malloc {

struct Report {
    int calls;               // malloc calls while armed
    std::size_t liveBlocks;  // blocks malloc'ed while armed and not yet freed
};

// From now on, count malloc calls and fail the failAt-th one (0: fail none).
void arm(int failAt);

// Stops counting and tells what happened since arm.
Report disarm();

}  // namespace failing_malloc
