#include "LibraryLog.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>

namespace ifxctl {

PrivateLog::~PrivateLog() {
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
    }
}

bool PrivateLog::Create() {
    const char* directory = std::getenv("TMPDIR");
    std::string pattern =
        std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
        "/ifxctl-log.XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    m_path = pattern;
    return ::setenv("JX_LOG_FILE", m_path.c_str(), 1) == 0;
}

std::string LoggedLaunchFailure(const std::string& path, pid_t child) {
    std::ifstream log(path);
    // "<date> <time> <pid> <thread> [<tag>] <message>"
    const std::regex shape(R"(^\S+ \S+ (\d+) \d+ \[[^\]]*\] (.*failed.*)$)");
    std::string line, reason;
    std::smatch match;
    while (std::getline(log, line)) {
        // The cheap test first: an operator's own log file may be long.
        if (line.find("failed") != std::string::npos && std::regex_match(line, match, shape) &&
            std::stol(match[1]) == child) {
            reason = match[2];
        }
    }
    // "errno 13" or "errno=13": the number's text helps whoever reads it.
    const std::regex number(R"(errno[ =](\d+))");
    if (std::regex_search(reason, match, number)) {
        reason += std::string(" (") + std::strerror(std::stoi(match[1])) + ")";
    }
    return reason;
}

}  // namespace ifxctl
