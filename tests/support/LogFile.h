#pragma once

#include <string>
#include <vector>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace ifxtest {

// One parsed log line: "<date> <time> <pid> <tid> [<tag>] <message>".
struct LogLine {
    long pid = 0;
    long tid = 0;
    std::string tag;
    std::string message;
};

// Points JX_LOG_FILE (and JX_DEBUG_LEVEL) at a fresh file for the length of a test. Make
// it before the EvEvent under test: an EvEvent reads both when it is constructed.
class LogFile {
  public:
    explicit LogFile(int level = 0);

    const std::string& path() const { return m_path; }
    std::string text() const;
    std::vector<LogLine> lines() const;

    // True when some line has exactly this tag and message.
    bool has(const std::string& tag, const std::string& message) const;
    // True when some line has this tag and a message that contains the text.
    bool hasContaining(const std::string& tag, const std::string& text) const;

  private:
    TempDir m_dir;
    std::string m_path;
    ScopedEnv m_file;
    ScopedEnv m_level;
};

// Parses one line; false when it does not have the log line's shape.
bool parseLogLine(const std::string& text, LogLine& line);

}  // namespace ifxtest
