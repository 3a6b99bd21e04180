#include <cctype>
#include <cstddef>
#include <cstring>

#include <IfxLib/IfxLib.h>

namespace {

// Bytes of 0x80 and above belong to names in whatever encoding the agent meets (UTF-8
// sequences, Latin-1 letters); a locale that calls one of them space must not cut it off.
bool isAsciiSpace(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte < 0x80 && std::isspace(byte) != 0;
}

}  // namespace

char* TRIM(char* str) {
    if (str == nullptr) {
        return nullptr;
    }
    char* start = str;
    std::size_t remaining = std::strlen(str);
    // Each round disposes of one byte: the front is consumed first, then the back, so the
    // loop never looks outside the string.
    while (remaining-- != 0) {
        if (isAsciiSpace(*start)) {
            ++start;
        } else if (isAsciiSpace(start[remaining])) {
            start[remaining] = '\0';
        } else {
            break;
        }
    }
    return start;
}
