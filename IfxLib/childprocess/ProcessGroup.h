#pragma once

// Whether a process group still has living members besides its leader. No kernel event says a
// group has emptied, and kill(-group, 0) counts an unreaped leader, so the members are
// looked up in /proc: each check reads the stat line of every process the agent can see
// (about a millisecond of system time per few hundred processes).

#include <sys/types.h>

namespace ifxlib {

enum class GroupMembers { kNone, kSome, kUnknown };

// kUnknown when /proc cannot be read.
GroupMembers OtherGroupMembers(pid_t group, pid_t leader);

}  // namespace ifxlib
