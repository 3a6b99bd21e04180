#include "badinput/BadInputSupport.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define IFXTEST_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IFXTEST_LEAK_CHECK 1
#endif
#endif

#ifdef IFXTEST_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace ifxtest {

void RunRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call + "  ->  " + row.documented);
        row.check();
    }
}

ExactBuffer::ExactBuffer(std::size_t size, char fill)
    : m_bytes(new char[size]), m_size(size), m_fill(fill) {
    std::memset(m_bytes.get(), fill, size);
}

bool ExactBuffer::untouched() const {
    for (std::size_t i = 0; i < m_size; ++i) {
        if (m_bytes[i] != m_fill) {
            return false;
        }
    }
    return true;
}

std::string ExactBuffer::text() const {
    const void* nul = std::memchr(m_bytes.get(), '\0', m_size);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - m_bytes.get())
                       : m_size;
    return std::string(m_bytes.get(), length);
}

std::unique_ptr<char[]> ExactString(const std::string& text) {
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

namespace {

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

::testing::AssertionResult SurvivesInAChild(const std::function<std::string()>& body) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return ::testing::AssertionFailure() << "pipe: " << std::strerror(errno);
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        return ::testing::AssertionFailure() << "fork: " << std::strerror(errno);
    }
    if (pid == 0) {
        ::close(report[0]);
        std::string failure = body();
#ifdef IFXTEST_LEAK_CHECK
        if (failure.empty() && __lsan_do_recoverable_leak_check() != 0) {
            failure = "leaked (see LeakSanitizer's report above)";
        }
#endif
        WriteAll(report[1], failure);
        // No atexit handler or static destructor of the test program runs twice.
        ::_exit(failure.empty() ? 0 : 1);
    }
    ::close(report[1]);
    const std::string failure = ReadAll(report[0]);
    ::close(report[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        return ::testing::AssertionFailure() << "the call crashed: signal " << WTERMSIG(status);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return ::testing::AssertionFailure()
               << (failure.empty() ? "the child exited with " + std::to_string(WEXITSTATUS(status))
                                   : failure);
    }
    return ::testing::AssertionSuccess();
}

}  // namespace ifxtest
