#pragma once

// The environment a child runs its program with: a copy of the parent's, made under the
// environment lock, with the launch's pairs set the way putenv sets them. The copy owns
// its array and its strings, so that once it is made nothing another thread does to the
// process environment (through the shims, or even with raw setenv, which may move or free
// the array and its entries) reaches the program, however long the child takes to execute
// it. The child only hands the finished list to execve; putenv in the child would take the
// C library's environment lock, which a child forked from a multi-threaded process could
// find held for ever by a thread that does not exist in it.

#include <memory>
#include <string>
#include <vector>

namespace ifxlib {

// The number of name/value pairs a launch sets: index by index while both lists go on,
// so the shorter list ends them; none when either list is null.
size_t CountEnvironmentPairs(char* const* envName, char* const* envValue);

class ChildEnvironment {
  public:
    // An empty environment.
    ChildEnvironment() = default;

    // Copies the process environment, array and strings, into memory this object owns,
    // with room for the pairs still to come. Takes the environment lock for the copy alone:
    // whatever the launch does afterwards (user lookups, the start of the child, its exec)
    // leaves the environment free for other threads.
    void CopyProcessEnvironment(char* const* envName, char* const* envValue);

    // The value of name in the copy (the first entry of that name, as getenv finds it), or
    // null. Consulted before SetPairs, it gives the environment as the launch found it.
    const char* Find(const char* name) const;

    // name[i]=value[i] for each i while both lists go on; nothing when either list or its
    // first entry is null. A later pair of a name replaces an earlier one.
    void SetPairs(char* const* envName, char* const* envValue);

    // The null-terminated "name=value" list for execve; never null. Valid while this object
    // lives (in the child: until exec).
    char* const* Entries();

  private:
    // Copies length bytes of text and a NUL to the end of m_text; the copy's address.
    char* append(const char* text, size_t length);

    std::unique_ptr<char[]> m_text;  // every entry back to back; never reallocated
    size_t m_capacity = 0;
    size_t m_used = 0;
    std::vector<char*> m_entries;  // points into m_text; no terminator until Entries
    bool m_terminated = false;
};

}  // namespace ifxlib
