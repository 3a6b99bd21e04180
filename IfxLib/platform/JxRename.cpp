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

bool sameFile(const char* first, const char* second) {
    struct stat a {};
    struct stat b {};
    return ::lstat(first, &a) == 0 && ::lstat(second, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
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
    // Moving a file onto itself (the same path, or another hard link of the same file)
    // would otherwise end with the only copy removed; like rename(2) it changes nothing.
    // lstat, so that a symbolic link as the target is replaced rather than followed.
    if (sameFile(from, to)) {
        return 0;
    }
    std::string temporary;
    if (linkToTemporaryName(from, directoryOf(to), temporary) != 0) {
        return -1;
    }
    if (::rename(temporary.c_str(), to) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return -1;
    }
    return ::unlink(from);
}
