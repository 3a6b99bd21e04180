#include <JxLib/JxUser.h>

#include <cerrno>

struct passwd* JX_getpwnam(const char* name, JxPasswdScratch* scratch) {
    if (name == nullptr || scratch == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    struct passwd* found = nullptr;
    int result =
        ::getpwnam_r(name, &scratch->record, scratch->strings, sizeof scratch->strings, &found);
    if (result != 0) {
        errno = result;
        return nullptr;
    }
    if (found == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    return found;
}
