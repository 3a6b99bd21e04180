#pragma once

// The environment a child runs its program with: the parent's, with the launch's pairs
// set the way putenv sets them. It is built by the parent before the fork because putenv
// takes the C library's environment lock, which a child forked from a multi-threaded
// process could find held for ever by a thread that does not exist in it; the child only
// points environ at the finished list.

#include <string>
#include <vector>

namespace ifxlib {

// The number of name/value pairs a launch sets: index by index while both lists go on,
// so the shorter list ends them; none when either list is null.
size_t CountEnvironmentPairs(char* const* envName, char* const* envValue);

class ChildEnvironment {
  public:
    // Nothing to set: the child keeps the environment it inherits.
    ChildEnvironment() = default;

    // name[i]=value[i] for each i while both lists go on; nothing when either list or its
    // first entry is null. Reads the process environment: the caller holds the
    // environment lock (LockEnvironment), which the library's writers take too.
    ChildEnvironment(char** envName, char** envValue);

    // Null-terminated "name=value" entries for environ, or null when there was nothing to
    // set. Valid while this object lives (in the child: until exec).
    char** Entries();

  private:
    void set(const std::string& entry);

    std::vector<std::string> m_added;  // reserved up front: m_entries points into it
    std::vector<char*> m_entries;
};

}  // namespace ifxlib
