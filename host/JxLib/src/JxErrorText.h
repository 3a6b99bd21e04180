#pragma once

#include <cstring>
#include <string>

// The process service's failure texts: what failed, then the system's words for code
// (left out when code is 0). A null error means the caller wants no text.
inline void JxSetErrorText(std::string* error, const char* what, int code) {
    if (error != nullptr) {
        *error = what;
        if (code != 0) {
            *error += ": ";
            *error += std::strerror(code);
        }
    }
}
