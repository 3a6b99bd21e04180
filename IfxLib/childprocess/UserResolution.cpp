#include "UserResolution.h"

#include <grp.h>

#include <cerrno>

#include <IfxLib/platform/HostServices.h>

namespace ifxlib {

namespace {

// The user's group list as initgroups(name, gid) builds it: gid first, then every group
// that names the user.
void fillGroupList(const char* name, gid_t gid, ResolvedUser& user) {
    int capacity = 32;
    for (;;) {
        user.groups.reset(new gid_t[static_cast<size_t>(capacity)]);
        int count = capacity;
        if (::getgrouplist(name, gid, user.groups.get(), &count) >= 0) {
            user.groupCount = count;
            return;
        }
        // count now holds the number needed.
        capacity = count > capacity ? count : capacity * 2;
    }
}

}  // namespace

ResolvedUser ResolveUser(const char* name, bool withGroups) {
    ResolvedUser user;
    JxPasswdScratch scratch;
    const struct passwd* record = JX_getpwnam(name, &scratch);
    if (record == nullptr) {
        user.lookupError = errno;
        return user;
    }
    user.uid = record->pw_uid;
    user.gid = record->pw_gid;
    if (withGroups) {
        fillGroupList(name, record->pw_gid, user);
    }
    return user;
}

}  // namespace ifxlib
