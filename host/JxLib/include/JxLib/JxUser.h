#pragma once

#include <pwd.h>

#include <JxLib/JxExport.h>

// Storage for one user record and its strings, owned by the caller of JX_getpwnam.
struct JxPasswdScratch {
    struct passwd record;
    char strings[16384];
};

// Looks the user up with getpwnam_r into scratch. Null when there is no such user (errno
// ENOENT) or the lookup failed (errno from getpwnam_r; EINVAL for null arguments).
JXLIB_API struct passwd* JX_getpwnam(const char* name, JxPasswdScratch* scratch);
