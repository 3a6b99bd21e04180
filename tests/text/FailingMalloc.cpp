#include "FailingMalloc.h"

#include <dlfcn.h>
#include <cstdint>

namespace {

using MallocFunction = void* (*)(std::size_t);
using FreeFunction = void (*)(void*);

MallocFunction nextMalloc = nullptr;
FreeFunction nextFree = nullptr;

// dlsym may itself allocate while it resolves; those few requests are served from here
// and never handed to the next free.
alignas(std::max_align_t) char bootstrapArena[16384];
std::size_t bootstrapUsed = 0;
bool resolving = false;

bool armed = false;
int failAt = 0;
int calls = 0;

// Blocks handed out while armed; a bounded table, so a test that makes more than this
// many sees overflowed set rather than a wrong count.
constexpr std::size_t kTrackedCapacity = 1024;
void* tracked[kTrackedCapacity];
std::size_t trackedCount = 0;
bool overflowed = false;

bool isBootstrapBlock(void* block) {
    const char* at = static_cast<const char*>(block);
    return at >= bootstrapArena && at < bootstrapArena + sizeof bootstrapArena;
}

void* bootstrapAllocate(std::size_t size) {
    const std::size_t aligned =
        (size + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
    if (aligned > sizeof bootstrapArena - bootstrapUsed) {
        return nullptr;
    }
    void* block = bootstrapArena + bootstrapUsed;
    bootstrapUsed += aligned;
    return block;
}

void resolveNext() {
    resolving = true;
    nextMalloc = reinterpret_cast<MallocFunction>(::dlsym(RTLD_NEXT, "malloc"));
    nextFree = reinterpret_cast<FreeFunction>(::dlsym(RTLD_NEXT, "free"));
    resolving = false;
}

void track(void* block) {
    if (trackedCount == kTrackedCapacity) {
        overflowed = true;
        return;
    }
    tracked[trackedCount++] = block;
}

void untrack(void* block) {
    for (std::size_t i = 0; i < trackedCount; ++i) {
        if (tracked[i] == block) {
            tracked[i] = tracked[--trackedCount];
            return;
        }
    }
}

}  // namespace

extern "C" void* malloc(std::size_t size) noexcept {
    if (nextMalloc == nullptr) {
        if (resolving) {
            return bootstrapAllocate(size);
        }
        resolveNext();
    }
    if (!armed) {
        return nextMalloc(size);
    }
    ++calls;
    if (calls == failAt) {
        return nullptr;
    }
    void* block = nextMalloc(size);
    if (block != nullptr) {
        track(block);
    }
    return block;
}

extern "C" void free(void* block) noexcept {
    if (block == nullptr || isBootstrapBlock(block)) {
        return;
    }
    if (nextFree == nullptr) {
        resolveNext();
    }
    if (armed) {
        untrack(block);
    }
    nextFree(block);
}

namespace failing_malloc {

void arm(int failAtCall) {
    calls = 0;
    failAt = failAtCall;
    trackedCount = 0;
    overflowed = false;
    armed = true;
}

Report disarm() {
    armed = false;
    return Report{calls, overflowed ? kTrackedCapacity + 1 : trackedCount};
}

}  // namespace failing_malloc
