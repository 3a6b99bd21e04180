#include <ZuUtils/ZuTrim.h>

#include <cctype>

namespace {
bool isSpaceByte(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
}  // namespace

void trim_both(std::string& str) {
    std::string::size_type end = str.size();
    while (end > 0 && isSpaceByte(str[end - 1])) {
        --end;
    }
    std::string::size_type begin = 0;
    while (begin < end && isSpaceByte(str[begin])) {
        ++begin;
    }
    str.erase(end);
    str.erase(0, begin);
}
