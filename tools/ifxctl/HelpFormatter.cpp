#include "HelpFormatter.h"

#include <sstream>

namespace ifxctl {

namespace {

constexpr size_t kScreenWidth = 80;
constexpr size_t kNameColumn = 26;
constexpr size_t kDescriptionWidth = kScreenWidth - kNameColumn;

void wrapLine(const std::string& line, size_t width, std::string& out) {
    size_t used = 0;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (used > 0 && used + 1 + word.size() > width) {
            out += '\n';
            used = 0;
        } else if (used > 0) {
            out += ' ';
            ++used;
        }
        out += word;
        used += word.size();
    }
}

}  // namespace

std::string Wrapped(const std::string& text, size_t width) {
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t newline = text.find('\n', start);
        wrapLine(text.substr(start, newline - start), width, out);
        if (newline == std::string::npos) {
            return out;
        }
        out += '\n';
        start = newline + 1;
    }
}

HelpFormatter::HelpFormatter() {
    column_width(kNameColumn);
}

std::string HelpFormatter::make_option_desc(const CLI::Option* option) const {
    return Wrapped(CLI::Formatter::make_option_desc(option), kDescriptionWidth);
}

std::string HelpFormatter::make_description(const CLI::App* app) const {
    return Wrapped(CLI::Formatter::make_description(app), kScreenWidth);
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
    return Wrapped(CLI::Formatter::make_footer(app), kScreenWidth);
}

std::string HelpFormatter::make_subcommand(const CLI::App* command) const {
    std::stringstream out;
    CLI::detail::format_help(out, command->get_display_name(),
                             Wrapped(command->get_description(), kDescriptionWidth),
                             get_column_width());
    return out.str();
}

}  // namespace ifxctl
