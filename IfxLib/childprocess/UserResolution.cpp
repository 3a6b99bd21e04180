#include "UserResolution.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

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

// The process's supplementary groups; false when they cannot be read.
bool readCurrentGroups(std::vector<gid_t>& current) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int count = ::getgroups(0, nullptr);
        if (count < 0) {
            return false;
        }
        current.resize(static_cast<size_t>(count));
        const int read = ::getgroups(count, current.data());
        if (read >= 0) {
            current.resize(static_cast<size_t>(read));
            return true;
        }
        // EINVAL: another thread changed the list between the two calls.
        if (errno != EINVAL) {
            return false;
        }
    }
    return false;
}

}  // namespace

bool GroupsWithin(const gid_t* groups, int count, const gid_t* allowed, int allowedCount) {
    const gid_t* end = allowed + allowedCount;
    return std::all_of(groups, groups + count,
                       [&](gid_t group) { return std::find(allowed, end, group) != end; });
}

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
        std::vector<gid_t> current;
        user.currentGroupsWithinUsers =
            readCurrentGroups(current) &&
            GroupsWithin(current.data(), static_cast<int>(current.size()), user.groups.get(),
                         user.groupCount);
    }
    return user;
}

}  // namespace ifxlib
