#include <IfxLib/IfxLib.h>

#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string directoryOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        return ".";
    }
    if (slash == path) {
        return "/";
    }
    return std::string(path, static_cast<size_t>(slash - path));
}

// The last component of path; empty when path ends in "/", as a directory's name may.
const char* lastComponent(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}

// True when both paths name one directory entry: the same name in the same directory,
// however the directory is spelled ("d/f", "d/./f", "d//f", a linked directory). Two hard
// links of one file are two entries, so the file's own inode cannot tell this.
bool sameEntry(const char* first, const char* second) {
    const char* firstName = lastComponent(first);
    const char* secondName = lastComponent(second);
    if (std::strcmp(firstName, secondName) != 0 || *firstName == '\0' ||
        std::strcmp(firstName, ".") == 0 || std::strcmp(firstName, "..") == 0) {
        return false;
    }
    struct stat a {};
    struct stat b {};
    return ::stat(directoryOf(first).c_str(), &a) == 0 &&
           ::stat(directoryOf(second).c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool exists(const char* path) {
    struct stat info {};
    return ::lstat(path, &info) == 0;
}

// Links source to a fresh name in directory; the name is returned in temporary.
int linkToTemporaryName(const char* source, const std::string& directory, std::string& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "/.jxrename-%d-%u", static_cast<int>(::getpid()),
                      counter.fetch_add(1));
        temporary = directory + name;
        if (::link(source, temporary.c_str()) == 0) {
            return 0;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

}  // namespace

// The target is replaced atomically by rename(2) only after the new link exists, so a
// move that cannot be made (another file system, a missing source) keeps the target.
int jxrename(char* from, char* to) {
    if (from == nullptr || to == nullptr) {
        errno = EINVAL;
        return -1;
    }
    // Moving an entry onto itself would otherwise end with the only name removed; like
    // rename(2) it changes nothing. A missing source goes on to fail in link.
    if (sameEntry(from, to) && exists(from)) {
        return 0;
    }
    std::string temporary;
    if (linkToTemporaryName(from, directoryOf(to), temporary) != 0) {
        return -1;
    }
    if (::rename(temporary.c_str(), to) != 0) {
        // A directory target: rename(2) says EISDIR, but a move by link fails with EEXIST
        // there (the name is taken), and callers test for that.
        const int saved = errno == EISDIR ? EEXIST : errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return -1;
    }
    // When the target already was another link of the source's file, rename(2) did
    // nothing and the temporary name is still there; otherwise it is gone (ENOENT here).
    ::unlink(temporary.c_str());
    return ::unlink(from);
}
