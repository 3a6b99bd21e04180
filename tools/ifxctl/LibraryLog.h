#pragma once

// Where the library's log goes. An operator wants the utility's output and ifxctl's own
// messages, not the library's trace; the host logger has no "off" (no file named means
// standard error), so unless asked for the log goes to a private file that ifxctl removes
// when it ends, and from which a failed launch's reason can still be quoted.

#include <sys/types.h>

#include <string>

namespace ifxctl {

class PrivateLog {
  public:
    PrivateLog() = default;
    ~PrivateLog();
    PrivateLog(const PrivateLog&) = delete;
    PrivateLog& operator=(const PrivateLog&) = delete;

    // Creates the file under TMPDIR (or /tmp) and points JX_LOG_FILE at it. False with
    // errno set when no file could be made.
    bool Create();
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

// The reason that the launch's child logged for its failure, from the log file at path:
// its last line that says something "failed", with the error number's text added. Empty
// when the file cannot be read or holds no such line of that process.
std::string LoggedLaunchFailure(const std::string& path, pid_t child);

}  // namespace ifxctl
