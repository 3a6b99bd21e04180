#pragma once

// Limits of IfxChildParam and the release of the string copies it points to.

#include <IfxLib/IfxLib.h>

namespace ifxlib {

// 0 when the launch fits the block; EINVAL for a null path or user, ENAMETOOLONG for a
// path or user that leaves no room for its NUL, E2BIG for too many arguments or pairs.
int CheckFitsParamBlock(const char* path, char** argv, const char* ifxUser, char** envName,
                        char** envValue);

// Deletes the argument, name and value copies that SetPostForkParam made.
void ReleaseParamCopies(IfxChildParam* block);

}  // namespace ifxlib
