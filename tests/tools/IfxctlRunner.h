#pragma once

// Runs the ifxctl program as a real process, the way an operator or a script does.

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace ifxtest {

// Paths set by the build.
const char* IfxctlPath();
const char* ChildHelperPath();

// Variables to set (or, without a value, to remove) in the program's environment.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct IfxctlResult {
    int status = -1;  // exit code, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

// Runs one ifxctl per call inside a temporary directory of its own. The library's log
// goes to a file there, so that standard error holds the tool's own messages alone.
class IfxctlRunner {
  public:
    IfxctlRunner();

    // Standard input comes from a file holding input; standard output and standard error
    // go to files, read once the program has ended.
    IfxctlResult Run(const std::vector<std::string>& args, const std::string& input = "",
                     const EnvChanges& env = {}) const;

    // Starts ifxctl with pipes for standard input and output, which the caller then
    // holds (or with standard input read from inputPath, input then -1); standard error
    // goes to a file, or with errorToOutput to the output pipe as well. Finish with Wait.
    struct Started {
        pid_t pid = -1;
        int input = -1;   // write end: the program's standard input
        int output = -1;  // read end: the program's standard output
        std::string errPath;
    };
    Started Start(const std::vector<std::string>& args, const std::string& inputPath = "",
                  const EnvChanges& env = {}, bool errorToOutput = false) const;
    // Waits for a started program; its standard error is in the result, out stays empty.
    static IfxctlResult Wait(const Started& started);

    // Runs ifxctl through this command from now on (setpriv to run it as another user).
    void WrapWith(std::vector<std::string> command) { m_wrapper = std::move(command); }

    const TempDir& dir() const { return m_dir; }
    std::string logPath() const { return m_dir.file("library.log"); }

  private:
    std::vector<std::string> environment(const EnvChanges& changes) const;

    TempDir m_dir;
    std::vector<std::string> m_wrapper;
};

// Writes all of text to fd; false when it could not.
bool WriteAllTo(int fd, const std::string& text);
// Reads from fd until text holds the wanted string or the end is reached; false at the
// end without it. Blocks as long as the writer is silent: no time limit.
bool ReadUntil(int fd, std::string& text, const std::string& wanted);

}  // namespace ifxtest
