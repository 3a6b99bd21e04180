#pragma once

// run: whether a user can execute a program by its path, judged as the kernel would judge
// that user's execve: search permission on every directory the path walks through, then
// the file's execute permission, each by the owner, group and other bits or, where a
// directory or the file has one, its access ACL. Best effort: the launch remains the judge.

#include <sys/types.h>

#include <string>
#include <vector>

namespace ifxctl {

struct Identity {
    uid_t uid = 0;
    std::vector<gid_t> groups;  // the primary group first
};

// 0 when the user can execute the file at path, else why not: ENOENT or ENOTDIR when it
// is not there, EACCES when a directory on the way or the file refuses the user (or it is
// no regular file), EISDIR for a directory.
int WhyNotExecutable(const std::string& path, const Identity& who);

}  // namespace ifxctl
