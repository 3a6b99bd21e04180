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
};

// Looks name up; with withGroups also the supplementary groups of the user.
ResolvedUser ResolveUser(const char* name, bool withGroups);

}  // namespace ifxlib
