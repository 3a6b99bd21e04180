#pragma once

// Help text that fits a terminal of 80 columns: the descriptions of options and commands
// wrapped at word boundaries beside the column of their names.

#include <CLI/CLI.hpp>

#include <string>

namespace ifxctl {

// Wraps text at blanks so that no line is longer than width (a longer word keeps its
// own line); newlines in text stay.
std::string Wrapped(const std::string& text, size_t width);

class HelpFormatter : public CLI::Formatter {
  public:
    HelpFormatter();

    std::string make_option_desc(const CLI::Option* option) const override;
    std::string make_subcommand(const CLI::App* command) const override;
    std::string make_description(const CLI::App* app) const override;
    std::string make_footer(const CLI::App* app) const override;
};

}  // namespace ifxctl
