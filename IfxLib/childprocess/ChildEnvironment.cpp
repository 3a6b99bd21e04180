#include "ChildEnvironment.h"

#include <cstring>

#include <IfxLib/platform/EnvironmentLock.h>

extern char** environ;

namespace ifxlib {

namespace {

// Like putenv, an entry's name is what comes before its first "=".
bool hasName(const char* entry, const char* name, size_t nameLength) {
    return std::strncmp(entry, name, nameLength) == 0 && entry[nameLength] == '=';
}

size_t pairBytes(char* const* envName, char* const* envValue, size_t pairs) {
    size_t bytes = 0;
    for (size_t i = 0; i < pairs; ++i) {
        bytes += std::strlen(envName[i]) + 1 + std::strlen(envValue[i]) + 1;
    }
    return bytes;
}

}  // namespace

size_t CountEnvironmentPairs(char* const* envName, char* const* envValue) {
    size_t count = 0;
    while (envName != nullptr && envValue != nullptr && envName[count] != nullptr &&
           envValue[count] != nullptr) {
        ++count;
    }
    return count;
}

void ChildEnvironment::CopyProcessEnvironment(char* const* envName, char* const* envValue) {
    // The pairs belong to the caller and do not change under us: they are measured before
    // the lock, so that the lock covers the copy alone.
    const size_t pairs = CountEnvironmentPairs(envName, envValue);
    const size_t extra = pairBytes(envName, envValue, pairs);

    const auto environmentLock = LockEnvironment();
    size_t count = 0;
    size_t bytes = 0;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        ++count;
        bytes += std::strlen(*entry) + 1;
    }
    m_capacity = bytes + extra;
    m_text.reset(new char[m_capacity > 0 ? m_capacity : 1]);
    m_used = 0;
    m_entries.clear();
    m_entries.reserve(count + pairs + 1);
    m_terminated = false;
    for (size_t i = 0; i < count; ++i) {
        m_entries.push_back(append(environ[i], std::strlen(environ[i])));
    }
}

char* ChildEnvironment::append(const char* text, size_t length) {
    char* copy = m_text.get() + m_used;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    m_used += length + 1;
    return copy;
}

const char* ChildEnvironment::Find(const char* name) const {
    const size_t nameLength = std::strlen(name);
    for (char* entry : m_entries) {
        if (entry != nullptr && hasName(entry, name, nameLength)) {
            return entry + nameLength + 1;
        }
    }
    return nullptr;
}

void ChildEnvironment::SetPairs(char* const* envName, char* const* envValue) {
    const size_t pairs = CountEnvironmentPairs(envName, envValue);
    if (pairs == 0 || m_terminated) {
        return;
    }
    for (size_t i = 0; i < pairs; ++i) {
        const size_t fullNameLength = std::strlen(envName[i]);
        const size_t valueLength = std::strlen(envValue[i]);
        if (m_used + fullNameLength + 1 + valueLength + 1 > m_capacity) {
            // Only pairs measured by CopyProcessEnvironment have room.
            return;
        }
        char* added = m_text.get() + m_used;
        std::memcpy(added, envName[i], fullNameLength);
        added[fullNameLength] = '=';
        std::memcpy(added + fullNameLength + 1, envValue[i], valueLength);
        added[fullNameLength + 1 + valueLength] = '\0';
        m_used += fullNameLength + 1 + valueLength + 1;
        // As putenv reads the entry: its name ends at its first "=", wherever that is.
        const size_t nameLength = std::strcspn(added, "=");
        bool replaced = false;
        for (char*& existing : m_entries) {
            if (hasName(existing, added, nameLength)) {
                existing = added;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            m_entries.push_back(added);
        }
    }
}

char* const* ChildEnvironment::Entries() {
    if (!m_terminated) {
        m_entries.push_back(nullptr);
        m_terminated = true;
    }
    return m_entries.data();
}

}  // namespace ifxlib
