#include "Reachability.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>

namespace ifxctl {

namespace {

constexpr unsigned kExecute = 1;  // the x of rwx, in the mode's triplets and in ACL entries

// The on-disk layout of an access ACL in its extended attribute, little-endian on every
// architecture.
constexpr char kAccessAcl[] = "system.posix_acl_access";
constexpr size_t kAclHeader = 4;
constexpr size_t kAclEntry = 8;
constexpr uint32_t kAclVersion = 2;
enum AclTag : uint16_t {
    kUserObj = 0x01,
    kUser = 0x02,
    kGroupObj = 0x04,
    kGroup = 0x08,
    kMask = 0x10,
    kOther = 0x20,
};

struct AclEntry {
    uint16_t tag;
    uint16_t perm;
    uint32_t id;
};

uint32_t littleEndian(const unsigned char* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = count; i > 0; --i) {
        value = (value << 8) | bytes[i - 1];
    }
    return value;
}

// The file's access ACL; empty where it has none (or the file system keeps none).
std::vector<AclEntry> accessAcl(const std::string& path) {
    std::vector<AclEntry> entries;
    const ssize_t size = ::getxattr(path.c_str(), kAccessAcl, nullptr, 0);
    if (size < static_cast<ssize_t>(kAclHeader)) {
        return entries;
    }
    std::vector<unsigned char> raw(static_cast<size_t>(size));
    const ssize_t got = ::getxattr(path.c_str(), kAccessAcl, raw.data(), raw.size());
    if (got < static_cast<ssize_t>(kAclHeader) || littleEndian(raw.data(), 4) != kAclVersion) {
        return entries;
    }
    for (size_t at = kAclHeader; at + kAclEntry <= static_cast<size_t>(got); at += kAclEntry) {
        entries.push_back({static_cast<uint16_t>(littleEndian(&raw[at], 2)),
                           static_cast<uint16_t>(littleEndian(&raw[at + 2], 2)),
                           littleEndian(&raw[at + 4], 4)});
    }
    return entries;
}

bool inGroups(gid_t group, const Identity& who) {
    return std::find(who.groups.begin(), who.groups.end(), group) != who.groups.end();
}

// The kernel's order: owner; a named user (through the mask); the owning and named
// groups, any of them that grants it (through the mask), none if one matched but none
// granted; other.
bool aclGrants(const std::vector<AclEntry>& acl, const struct stat& file, const Identity& who,
               unsigned wanted) {
    unsigned mask = 7;
    for (const AclEntry& entry : acl) {
        if (entry.tag == kMask) {
            mask = entry.perm;
        }
    }
    const auto granted = [&](const AclEntry& entry) { return (entry.perm & wanted) == wanted; };
    for (const AclEntry& entry : acl) {
        if (entry.tag == kUserObj && file.st_uid == who.uid) {
            return granted(entry);
        }
    }
    for (const AclEntry& entry : acl) {
        if (entry.tag == kUser && entry.id == who.uid) {
            return granted(entry) && (mask & wanted) == wanted;
        }
    }
    bool groupMatched = false;
    for (const AclEntry& entry : acl) {
        const bool matches = (entry.tag == kGroupObj && inGroups(file.st_gid, who)) ||
                             (entry.tag == kGroup && inGroups(entry.id, who));
        if (matches) {
            groupMatched = true;
            if (granted(entry)) {
                return (mask & wanted) == wanted;
            }
        }
    }
    if (groupMatched) {
        return false;
    }
    for (const AclEntry& entry : acl) {
        if (entry.tag == kOther) {
            return granted(entry);
        }
    }
    return false;
}

bool modeGrants(const struct stat& file, const Identity& who, unsigned wanted) {
    unsigned bits = file.st_mode & 7;
    if (file.st_uid == who.uid) {
        bits = (file.st_mode >> 6) & 7;
    } else if (inGroups(file.st_gid, who)) {
        bits = (file.st_mode >> 3) & 7;
    }
    return (bits & wanted) == wanted;
}

// Execute (search, for a directory) permission on path, already stat'ed. Root searches
// every directory and executes a file that anyone may execute.
bool mayExecute(const std::string& path, const struct stat& file, const Identity& who) {
    if (who.uid == 0) {
        return S_ISDIR(file.st_mode) || (file.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    }
    const std::vector<AclEntry> acl = accessAcl(path);
    return acl.empty() ? modeGrants(file, who, kExecute) : aclGrants(acl, file, who, kExecute);
}

// Every directory that a lookup of path searches: where it starts (the root, or the
// working directory), then each directory named on the way to its last component.
std::vector<std::string> directoriesOnTheWay(const std::string& path) {
    std::vector<std::string> directories{path[0] == '/' ? "/" : "."};
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        directories.push_back(path.substr(0, slash));
    }
    return directories;
}

// 0 when the user may search every directory on the way to path, else the reason.
int whyNotReachable(const std::string& path, const Identity& who) {
    for (const std::string& directory : directoriesOnTheWay(path)) {
        struct stat entry {};
        if (::stat(directory.c_str(), &entry) != 0) {
            return errno;
        }
        if (!S_ISDIR(entry.st_mode)) {
            return ENOTDIR;
        }
        if (!mayExecute(directory, entry, who)) {
            return EACCES;
        }
    }
    return 0;
}

}  // namespace

int WhyNotExecutable(const std::string& path, const Identity& who) {
    if (path.empty()) {
        return ENOENT;
    }
    if (const int error = whyNotReachable(path, who)) {
        return error;
    }
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0) {
        return errno;
    }
    // A symbolic link on the way is followed from where it points: those directories
    // are searched too.
    const std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), ::free);
    if (real != nullptr && path != real.get()) {
        if (const int error = whyNotReachable(real.get(), who)) {
            return error;
        }
    }
    if (S_ISDIR(file.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(file.st_mode) || !mayExecute(path, file, who)) {
        return EACCES;
    }
    return 0;
}

}  // namespace ifxctl
