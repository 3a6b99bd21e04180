#include "support/LogFile.h"

#include <sys/stat.h>
#include <regex>
#include <sstream>

namespace ifxtest {

LogFile::LogFile(int level)
    : m_dir(),
      m_path(m_dir.file("ifx.log")),
      m_file("JX_LOG_FILE", m_path),
      m_level("JX_DEBUG_LEVEL", std::to_string(level)) {
    // Children that switch to another user still log here.
    ::chmod(m_dir.path().c_str(), 0777);
    m_dir.write("ifx.log", "");
    ::chmod(m_path.c_str(), 0666);
}

std::string LogFile::text() const {
    return readFile(m_path);
}

std::vector<LogLine> LogFile::lines() const {
    std::vector<LogLine> result;
    std::istringstream in(text());
    std::string raw;
    while (std::getline(in, raw)) {
        LogLine line;
        if (parseLogLine(raw, line)) {
            result.push_back(line);
        }
    }
    return result;
}

bool LogFile::has(const std::string& tag, const std::string& message) const {
    for (const LogLine& line : lines()) {
        if (line.tag == tag && line.message == message) {
            return true;
        }
    }
    return false;
}

bool LogFile::hasContaining(const std::string& tag, const std::string& text) const {
    for (const LogLine& line : lines()) {
        if (line.tag == tag && line.message.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool parseLogLine(const std::string& text, LogLine& line) {
    static const std::regex shape(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6} (\d+) (\d+) \[(.*?)\] (.*)$)");
    std::smatch match;
    if (!std::regex_match(text, match, shape)) {
        return false;
    }
    line.pid = std::stol(match[1]);
    line.tid = std::stol(match[2]);
    line.tag = match[3];
    line.message = match[4];
    return true;
}

}  // namespace ifxtest
