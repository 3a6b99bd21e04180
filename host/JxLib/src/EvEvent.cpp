#include <JxLib/EvEvent.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

int levelFrom(const char* text) {
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char* end = nullptr;
    long level = std::strtol(text, &end, 10);
    if (*end != '\0' || level < 0 || level > 1000000) {
        return 0;
    }
    return static_cast<int>(level);
}

int openLogFile(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void writeFully(int fd, const char* data, size_t length) {
    if (fd < 0) {
        return;
    }
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
}

}  // namespace

EvEvent::EvEvent() : EvEvent(std::getenv("JX_LOG_FILE"), std::getenv("JX_DEBUG_LEVEL")) {}

EvEvent::EvEvent(const char* path, const char* debugLevel)
    : m_path(), m_level(levelFrom(debugLevel)), m_fd(-1), m_device(0), m_inode(0) {
    const size_t length = path != nullptr ? std::strlen(path) : 0;
    if (length == 0 || length >= sizeof m_path) {
        return;
    }
    std::memcpy(m_path, path, length + 1);
    int saved = errno;
    m_fd = openLogFile(m_path);
    struct stat info {};
    if (m_fd >= 0 && ::fstat(m_fd, &info) == 0) {
        m_device = info.st_dev;
        m_inode = info.st_ino;
    } else if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    errno = saved;
}

EvEvent::~EvEvent() {
    int saved = errno;
    if (keptDescriptorIsOurs()) {
        ::close(m_fd);
    }
    errno = saved;
}

// A process may close descriptors behind our back (a child closes all of them before
// exec) and the number may since name another file, so the kept descriptor is used only
// while it still refers to the file opened for it.
bool EvEvent::keptDescriptorIsOurs() const {
    if (m_fd < 0) {
        return false;
    }
    struct stat info {};
    return ::fstat(m_fd, &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode;
}

void EvEvent::WriteLine(const char* line, size_t length, int fallback) const {
    if (m_path[0] == '\0') {
        writeFully(fallback, line, length);
        return;
    }
    if (keptDescriptorIsOurs()) {
        writeFully(m_fd, line, length);
        return;
    }
    // Opened for this line only, so that no state is shared between threads here.
    int fd = openLogFile(m_path);
    if (fd < 0) {
        writeFully(fallback, line, length);
        return;
    }
    writeFully(fd, line, length);
    ::close(fd);
}
