#include "Duration.h"

#include <strings.h>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace ifxctl {

namespace {

// Longer limits, infinity and numbers too large for a double included, are cut to this:
// as good as none (68 years), and far from overflowing a deadline on the monotonic clock.
constexpr double kLongest = 2147483647.0;

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The number may start with blanks and a plus, as strtod reads it; a minus, NaN and
// anything else that is no number are refused, infinity is not.
bool startsAsDuration(const std::string& text, size_t start) {
    if (start >= text.size()) {
        return false;
    }
    if (text[start] == '+') {
        ++start;
    }
    if (start >= text.size()) {
        return false;
    }
    const char first = text[start];
    return std::isdigit(static_cast<unsigned char>(first)) || first == '.' ||
           ::strncasecmp(text.c_str() + start, "inf", 3) == 0;
}

}  // namespace

std::optional<double> ParseDuration(const std::string& text) {
    size_t start = 0;
    while (start < text.size() && isSpace(text[start])) {
        ++start;
    }
    if (!startsAsDuration(text, start)) {
        return std::nullopt;
    }
    char* end = nullptr;
    // Out of range: HUGE_VAL, cut below like infinity.
    const double number = std::strtod(text.c_str() + start, &end);
    double unit = 1;
    const std::string rest = end;
    if (rest == "m") {
        unit = 60;
    } else if (rest == "h") {
        unit = 3600;
    } else if (rest == "d") {
        unit = 86400;
    } else if (!rest.empty() && rest != "s") {
        return std::nullopt;
    }
    if (std::isnan(number) || number < 0) {
        return std::nullopt;
    }
    return std::min(number * unit, kLongest);
}

std::string DurationText(const std::string& given) {
    const size_t start = given.find_first_not_of(" \t\n\v\f\r");
    const std::string text = start == std::string::npos ? given : given.substr(start);
    const bool hasUnit = !text.empty() && std::isalpha(static_cast<unsigned char>(text.back()));
    return hasUnit ? text : text + "s";
}

}  // namespace ifxctl
