#pragma once

// The user a child switches to, looked up by the parent before the fork. User and group
// lookups go through the name service, which may load modules and take locks; a child
// forked from a multi-threaded process could find such a lock held for ever by a thread
// that does not exist in it. So the parent looks up, and the child only applies.

#include <sys/types.h>

#include <memory>

namespace ifxlib {

struct ResolvedUser {
    int lookupError = 0;  // errno of a failed lookup; 0 when the user was found
    uid_t uid = 0;
    gid_t gid = 0;
    // As initgroups would set them, when asked for.
    std::unique_ptr<gid_t[]> groups;
    int groupCount = 0;
    // Whether every supplementary group the process has now is among groups (true for an
    // empty list): only then does a child that may not set its groups (setgroups refused
    // with EPERM) keep no more than the user would have. Worked out with groups.
    bool currentGroupsWithinUsers = false;
};

// Looks name up; with withGroups also the supplementary groups of the user, and whether
// the process's own are among them.
ResolvedUser ResolveUser(const char* name, bool withGroups);

// True when each of the count groups is one of the allowedCount allowed ones (so also for
// count 0).
bool GroupsWithin(const gid_t* groups, int count, const gid_t* allowed, int allowedCount);

}  // namespace ifxlib
