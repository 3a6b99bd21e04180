#include <ZuUtils/FXString.h>

#include <cstring>

void FXString::Split(const std::string& source, const std::string& separator,
                     std::vector<std::string>& pieces, unsigned int options) {
    const bool skipEmpty = (options & kSkipEmpty) != 0;
    if (separator.empty()) {
        if (!(skipEmpty && source.empty())) {
            pieces.push_back(source);
        }
        return;
    }
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type end = source.find(separator, start);
        std::string::size_type stop = (end == std::string::npos) ? source.size() : end;
        if (!(skipEmpty && stop == start)) {
            pieces.emplace_back(source, start, stop - start);
        }
        if (end == std::string::npos) {
            return;
        }
        start = end + separator.size();
    }
}

void FXString::Trim(std::string& str, const std::string& chars) {
    std::string::size_type last = str.find_last_not_of(chars);
    if (last == std::string::npos) {
        str.clear();
        return;
    }
    str.erase(last + 1);
    str.erase(0, str.find_first_not_of(chars));
}

void FXString::ReplaceAll(std::string& str, const std::string& from, const std::string& to,
                          unsigned long start) {
    if (from.empty()) {
        return;
    }
    std::string::size_type at = str.find(from, start);
    while (at != std::string::npos) {
        str.replace(at, from.size(), to);
        at = str.find(from, at + to.size());
    }
}

const char* FXString::FindString(const char* str, const char* substr, bool ignoreCase) {
    if (str == nullptr || substr == nullptr) {
        return nullptr;
    }
    return ignoreCase ? ::strcasestr(str, substr) : std::strstr(str, substr);
}
