#include "Output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "Commands.h"

namespace ifxctl {

namespace {

// Standard output holds a line that lacks its newline.
std::atomic<bool> g_outputMidLine{false};

bool sameFile(int one, int other) {
    struct stat first {
    }, second{};
    return ::fstat(one, &first) == 0 && ::fstat(other, &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

void NoteOutputEnd(char last) {
    g_outputMidLine = last != '\n';
}

bool WriteAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, text, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool PrintLine(const std::string& line) {
    const std::string text = line + "\n";
    return WriteAll(STDOUT_FILENO, text.data(), text.size());
}

void Complain(const std::string& message) {
    const bool newLineFirst = g_outputMidLine && sameFile(STDOUT_FILENO, STDERR_FILENO);
    g_outputMidLine.store(false);
    const std::string text = (newLineFirst ? "\nifxctl: " : "ifxctl: ") + message + "\n";
    // Nowhere left to report a failure to write the report.
    (void)WriteAll(STDERR_FILENO, text.data(), text.size());
}

int OutputFailed() {
    Complain("cannot write to standard output: " + ErrorText(errno));
    return kExitFailure;
}

std::string ErrorText(int error) {
    return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

}  // namespace ifxctl
