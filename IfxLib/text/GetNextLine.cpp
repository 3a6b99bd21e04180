#include <cstring>

#include <IfxLib/IfxLib.h>

int GetNextLine(char* text, const char* separator) {
    if (text == nullptr || separator == nullptr) {
        return 0;
    }
    const char* found = std::strstr(text, separator);
    if (found == nullptr) {
        return static_cast<int>(std::strlen(text));
    }
    if (found == text) {
        // A separator at the very start: the caller skips it rather than reading a line.
        return static_cast<int>(std::strlen(separator));
    }
    return static_cast<int>(found - text);
}
