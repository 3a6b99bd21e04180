#include "Duration.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace ifxctl {

namespace {

// A day is the longest unit; a limit of more than a year of days is as good as none, and
// keeps every deadline far from overflowing.
constexpr double kLongest = 366.0 * 24 * 3600;

}  // namespace

std::optional<double> ParseDuration(const std::string& text) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
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
    if (!std::isfinite(number) || number < 0) {
        return std::nullopt;
    }
    return std::min(number * unit, kLongest);
}

std::string DurationText(const std::string& text) {
    const bool hasUnit = !text.empty() && std::isalpha(static_cast<unsigned char>(text.back()));
    return hasUnit ? text : text + "s";
}

}  // namespace ifxctl
