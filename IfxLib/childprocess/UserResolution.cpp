#include "UserResolution.h"

#include <grp.h>

#include <cerrno>

#include <IfxLib/platform/HostServices.h>

namespace ifxlib {

namespace {

// The user's group list as initgroups(name, gid) builds it: gid first, then every group
// that names the user.
std::vector<gid_t> groupListOf(const char* name, gid_t gid) {
    std::vector<gid_t> groups(32);
    for (;;) {
        int count = static_cast<int>(groups.size());
        if (::getgrouplist(name, gid, groups.data(), &count) >= 0) {
            groups.resize(static_cast<size_t>(count));
            return groups;
        }
        // count now holds the number needed.
        groups.resize(static_cast<size_t>(count) > groups.size() ? static_cast<size_t>(count)
                                                                 : groups.size() * 2);
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
        user.groups = groupListOf(name, record->pw_gid);
    }
    return user;
}

}  // namespace ifxlib
