#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

#include <IfxLib/IfxLib.h>

namespace {

// The result is an int. A length beyond INT_MAX comes back as INT_MAX with errno
// EOVERFLOW: a caller that reads or skips that many bytes stays inside the line and still
// moves forward, where a cut or negative count would send it elsewhere or nowhere.
int lengthAsInt(std::size_t length) {
    if (length > static_cast<std::size_t>(INT_MAX)) {
        errno = EOVERFLOW;
        return INT_MAX;
    }
    return static_cast<int>(length);
}

}  // namespace

int GetNextLine(char* text, const char* separator) {
    if (text == nullptr || separator == nullptr) {
        return 0;
    }
    const char* found = std::strstr(text, separator);
    if (found == nullptr) {
        return lengthAsInt(std::strlen(text));
    }
    if (found == text) {
        // A separator at the very start: the caller skips it rather than reading a line.
        return lengthAsInt(std::strlen(separator));
    }
    return lengthAsInt(static_cast<std::size_t>(found - text));
}
