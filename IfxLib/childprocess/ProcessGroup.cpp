#include "ProcessGroup.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ifxlib {

namespace {

// The process group of /proc/<name>/stat, or -1 when the process has gone or has ended
// (a zombie whose parent has not reaped it yet is no member to wait for). The fields after
// the command's closing parenthesis: state, ppid, pgrp.
pid_t GroupOf(int procFd, const char* name) {
    char path[64];
    std::snprintf(path, sizeof path, "%s/stat", name);
    const int fd = ::openat(procFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char line[512];
    ssize_t length;
    do {
        length = ::read(fd, line, sizeof line - 1);
    } while (length < 0 && errno == EINTR);
    ::close(fd);
    if (length <= 0) {
        return -1;
    }
    line[length] = '\0';
    // The command may hold anything, parentheses included, up to 16 bytes; the last ')'
    // ends it. A line cut short by the buffer still has the command and the group.
    const char* end = std::strrchr(line, ')');
    if (end == nullptr) {
        return -1;
    }
    char state = 0;
    long parent = 0;
    long group = 0;
    if (std::sscanf(end + 1, " %c %ld %ld", &state, &parent, &group) != 3 || state == 'Z' ||
        state == 'X') {
        return -1;
    }
    return static_cast<pid_t>(group);
}

}  // namespace

GroupMembers OtherGroupMembers(pid_t group, pid_t leader) {
    const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0) {
        return GroupMembers::kUnknown;
    }
    DIR* dir = ::fdopendir(procFd);
    if (dir == nullptr) {
        ::close(procFd);
        return GroupMembers::kUnknown;
    }
    GroupMembers found = GroupMembers::kNone;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid == leader) {
            continue;
        }
        if (GroupOf(::dirfd(dir), entry->d_name) == group) {
            found = GroupMembers::kSome;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace ifxlib
