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

// Never on 0, 1 or 2: in a process whose standard descriptors are closed the log would
// otherwise take one of their numbers, where a launch that fills the free standard numbers
// with "/dev/null" would copy the log instead, and closing the log later would free the
// number again for a pipe. Created for its owner alone: lines carry environment values. An
// existing file keeps the mode someone gave it. Async-signal-safe, like all of the write path.
int openLogFile(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    ::close(fd);
    errno = error;
    return moved;
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
    if (keptDescriptorMayBeOurs()) {
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

// Releasing is the other way round: only a descriptor known to be closed (EBADF) or known
// to name another file is left alone. One whose fstat failed for another reason (ENOMEM)
// is still ours, and leaving it open would leak it for the life of the agent.
bool EvEvent::keptDescriptorMayBeOurs() const {
    if (m_fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        return errno != EBADF;
    }
    return info.st_dev == m_device && info.st_ino == m_inode;
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
