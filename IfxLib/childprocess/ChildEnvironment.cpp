#include "ChildEnvironment.h"

#include <cstring>

extern char** environ;

namespace ifxlib {

namespace {

// Like putenv, an entry's name is what comes before its first "=".
bool sameName(const char* entry, const std::string& added) {
    const size_t nameLength = added.find('=');
    return std::strncmp(entry, added.c_str(), nameLength + 1) == 0;
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

ChildEnvironment::ChildEnvironment(char** envName, char** envValue) {
    const size_t pairs = CountEnvironmentPairs(envName, envValue);
    if (pairs == 0) {
        return;
    }
    m_added.reserve(pairs);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        m_entries.push_back(*entry);
    }
    for (size_t i = 0; i < pairs; ++i) {
        set(std::string(envName[i]) + "=" + envValue[i]);
    }
    m_entries.push_back(nullptr);
}

void ChildEnvironment::set(const std::string& entry) {
    m_added.push_back(entry);
    char* added = m_added.back().data();
    for (char*& existing : m_entries) {
        if (sameName(existing, m_added.back())) {
            existing = added;
            return;
        }
    }
    m_entries.push_back(added);
}

char** ChildEnvironment::Entries() {
    return m_entries.empty() ? nullptr : m_entries.data();
}

}  // namespace ifxlib
