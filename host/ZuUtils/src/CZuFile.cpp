#include <ZuUtils/CZuFile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

CZuError errorFor(int error, const char* what, const char* path) {
    std::string text = "cannot ";
    text += what;
    text += " '";
    text += path;
    text += "': ";
    text += std::strerror(error);
    return CZuError(-error, std::move(text));
}

// Closes the descriptor on every way out of ReadWholeFile.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

int openForReading(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

CZuError CZuFile::ReadWholeFile(const char* path, std::string& content) {
    content.clear();
    if (path == nullptr) {
        return CZuError(-EINVAL, "cannot open a file without a path");
    }
    FileDescriptor file(openForReading(path));
    if (file.get() < 0) {
        return errorFor(errno, "open", path);
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        return errorFor(errno, "stat", path);
    }
    if (S_ISDIR(info.st_mode)) {
        return errorFor(EISDIR, "read", path);
    }
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        content.reserve(static_cast<size_t>(info.st_size));
    }
    char chunk[64 * 1024];
    for (;;) {
        ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got > 0) {
            content.append(chunk, static_cast<size_t>(got));
        } else if (got == 0) {
            return CZuError();
        } else if (errno != EINTR) {
            int error = errno;
            content.clear();
            return errorFor(error, "read", path);
        }
    }
}
