#pragma once

// Where the library's log goes. An operator wants the utility's output and ifxctl's own
// messages, not the library's trace, and the host logger has no "off" (no file named
// means standard error): unless -v, --log-file or the caller's JX_LOG_FILE says where,
// the lines go to /dev/null. Launch failures come from the library's own report, so no
// log needs to be kept or read. The utility gets the log variables as the caller had
// them, whatever ifxctl chose for its own lines.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ifxctl {

struct LogOptions {
    std::optional<int> level;
    std::optional<std::string> file;
    bool verbose = false;
};

// Sets JX_LOG_FILE and JX_DEBUG_LEVEL for ifxctl's own process as the options say,
// remembering the caller's values first. False with errno set when it cannot.
bool DirectLibraryLog(const LogOptions& options);

// NAME=VALUE pairs that give the utility back the caller's log variables where ifxctl
// changed them; a variable the caller did not have comes empty, which the log reads as
// unset.
std::vector<std::pair<std::string, std::string>> CallersLogVariables();

}  // namespace ifxctl
