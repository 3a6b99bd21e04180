#pragma once

// Bodies of the two FXString operations that the host declares inline: they are compiled
// into whichever library includes this header, here libIfxLib.

#include <IfxLib/platform/HostServices.h>

// 0 exactly when str begins with prefix; otherwise the order of str's first
// prefix.size() characters against prefix, as std::string::compare gives it.
inline int FXString::CompareLeft(const std::string& str, const std::string& prefix) {
    return str.compare(0, prefix.size(), prefix);
}

// The host's search over str's characters; null exactly when substr does not occur.
inline const char* FXString::FindString(const std::string& str, const char* substr,
                                        bool ignoreCase) {
    return FXString::FindString(str.c_str(), substr, ignoreCase);
}
