// IfxChildParam: the launch parameters that cross the fork in the block's own memory,
// which the child sees at the same address as the parent.

#include "LaunchParams.h"
#include "ChildEnvironment.h"

#include <cerrno>
#include <cstring>

#include <IfxLib/platform/HostServices.h>

namespace {

constexpr size_t kTextCapacity = sizeof(IfxChildParam::path);
constexpr size_t kArgumentSlots = sizeof(IfxChildParam::argv) / sizeof(char*);
constexpr size_t kEnvironmentSlots = sizeof(IfxChildParam::envName) / sizeof(char*);

char* copyString(const char* text) {
    const size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}

size_t countArguments(char* const* argv) {
    size_t count = 0;
    while (argv != nullptr && argv[count] != nullptr) {
        ++count;
    }
    return count;
}

void deleteEach(char** slots, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        delete[] slots[i];
        slots[i] = nullptr;
    }
}

}  // namespace

namespace ifxlib {

int CheckFitsParamBlock(const char* path, char** argv, const char* ifxUser, char** envName,
                        char** envValue) {
    if (path == nullptr || ifxUser == nullptr) {
        return EINVAL;
    }
    if (std::strlen(path) >= kTextCapacity || std::strlen(ifxUser) >= kTextCapacity) {
        return ENAMETOOLONG;
    }
    // Each list needs a null slot after its last entry.
    if (countArguments(argv) >= kArgumentSlots ||
        ifxlib::CountEnvironmentPairs(envName, envValue) >= kEnvironmentSlots) {
        return E2BIG;
    }
    return 0;
}

void ReleaseParamCopies(IfxChildParam* block) {
    deleteEach(block->argv, kArgumentSlots);
    deleteEach(block->envName, kEnvironmentSlots);
    deleteEach(block->envValue, kEnvironmentSlots);
}

}  // namespace ifxlib

void IfxChildProcess::SetPostForkParam(IfxChildParam* block, char* path, char** argv,
                                       char** envName, char** envValue, char* ifxUser,
                                       int* phpipepw, int* phpipecw) {
    static const char kTag[] = "IfxChildProcess::SetPostForkParam";
    if (block == nullptr) {
        return;
    }
    std::memset(block, 0, sizeof *block);

    // InitializeLinux refuses null texts; a direct caller gets empty ones.
    std::strncpy(block->path, path != nullptr ? path : "", kTextCapacity - 1);
    EvDebug::Debug(m_pevent, kTag, "Parent path = %s", block->path);

    const size_t arguments = countArguments(argv);
    for (size_t i = 0; i < arguments && i < kArgumentSlots - 1; ++i) {
        block->argv[i] = copyString(argv[i]);
    }

    const size_t pairs = ifxlib::CountEnvironmentPairs(envName, envValue);
    for (size_t i = 0; i < pairs && i < kEnvironmentSlots - 1; ++i) {
        block->envName[i] = copyString(envName[i]);
        block->envValue[i] = copyString(envValue[i]);
    }
    if (ifxlib::CountEnvironmentPairs(block->envName, block->envValue) > 0) {
        for (size_t i = 0; i < kEnvironmentSlots && block->envName[i] != nullptr; ++i) {
            EvDebug::DebugLvl(m_pevent, kTag, 2, "Parent env[%s]=%s", block->envName[i],
                              block->envValue[i]);
        }
    }

    std::strncpy(block->ifxUser, ifxUser != nullptr ? ifxUser : "", kTextCapacity - 1);
    EvDebug::Debug(m_pevent, kTag, "Parent ifxUser = %s", block->ifxUser);

    // A missing pipe is no descriptor at all: such a child closes nothing of its own and
    // fails when it connects its streams.
    block->phpipepw[0] = phpipepw != nullptr ? phpipepw[0] : -1;
    block->phpipepw[1] = phpipepw != nullptr ? phpipepw[1] : -1;
    block->phpipecw[0] = phpipecw != nullptr ? phpipecw[0] : -1;
    block->phpipecw[1] = phpipecw != nullptr ? phpipecw[1] : -1;
}

// Runs in the child, where a block may come from anybody: each list stops one slot short
// of its array, so that the caller's zero-filled arrays always keep a null after the last
// entry, even when every slot of the block is set.
void IfxChildProcess::GetPostForkParam(IfxChildParam* block, char* path, char** argv,
                                       char** envName, char** envValue, char* ifxUser,
                                       int* phpipepw, int* phpipecw, EvEvent* event) {
    static const char kTag[] = "IfxChildProcess::GetPostForkParam";
    if (block == nullptr) {
        return;
    }
    if (envName != nullptr && envValue != nullptr && block->envName[0] != nullptr &&
        block->envValue[0] != nullptr) {
        for (size_t i = 0; i < kEnvironmentSlots - 1 && block->envName[i] != nullptr &&
                           block->envValue[i] != nullptr;
             ++i) {
            envName[i] = block->envName[i];
            envValue[i] = block->envValue[i];
            EvDebug::Debug(event, kTag, "Child env[%s]=%s", envName[i], envValue[i]);
        }
    }
    if (path != nullptr) {
        std::memcpy(path, block->path, kTextCapacity);
        path[kTextCapacity - 1] = '\0';
        EvDebug::Debug(event, kTag, "Child path = %s", path);
    }
    for (size_t i = 0; argv != nullptr && i < kArgumentSlots - 1 && block->argv[i] != nullptr;
         ++i) {
        argv[i] = block->argv[i];
    }
    if (ifxUser != nullptr) {
        std::memcpy(ifxUser, block->ifxUser, kTextCapacity);
        ifxUser[kTextCapacity - 1] = '\0';
    }
    if (phpipepw != nullptr) {
        phpipepw[0] = block->phpipepw[0];
        phpipepw[1] = block->phpipepw[1];
    }
    if (phpipecw != nullptr) {
        phpipecw[0] = block->phpipecw[0];
        phpipecw[1] = block->phpipecw[1];
    }
}
