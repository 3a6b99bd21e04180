#include <ZuUtils/CZuFile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

CZuError errorFor(int error, const char* what, const char* path, const char* detail = nullptr) {
    std::string text = "cannot ";
    text += what;
    text += " '";
    text += path;
    text += "': ";
    text += std::strerror(error);
    if (detail != nullptr) {
        text += " (";
        text += detail;
        text += ")";
    }
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

// O_NONBLOCK: opening a FIFO must not wait for a writer (it is refused right after, by
// its kind). O_NOCTTY: a terminal must not become the agent's controlling one.
int openForReading(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// 0 when what the descriptor refers to may be read whole, else the errno that says why
// not. The descriptor, never the path: the file's owner could swap what the path names
// between a look at it and the open.
int readableKind(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return errno;
    }
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    // A FIFO or a socket may never end, and a device may never end (/dev/zero) or change
    // something by being read.
    return S_ISREG(info.st_mode) ? 0 : EINVAL;
}

// Reads to the end of file, whatever st_size says (it may be a sparse 1 TiB, or lag behind
// a file that grows), and gives up with EFBIG once more than the bound has come. 0 or the
// errno of the failure.
int readToEnd(int fd, std::string& content) {
    char chunk[64 * 1024];
    for (;;) {
        const size_t room = CZuFile::kMaxFileBytes - content.size();
        // One byte past the bound tells a file of exactly the bound from a longer one.
        const size_t wanted = room < sizeof chunk ? room + 1 : sizeof chunk;
        const ssize_t got = ::read(fd, chunk, wanted);
        if (got > 0) {
            if (static_cast<size_t>(got) > room) {
                return EFBIG;
            }
            content.append(chunk, static_cast<size_t>(got));
        } else if (got == 0) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
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
    if (const int error = readableKind(file.get()); error != 0) {
        return errorFor(error, "read", path, error == EINVAL ? "not a regular file" : nullptr);
    }
    // O_NONBLOCK stays: it changes nothing for a regular file (open(2)), and dropping it
    // would be one more call that can fail.
    if (const int error = readToEnd(file.get(), content); error != 0) {
        content.clear();
        return errorFor(error, "read", path, error == EFBIG ? "more than 16 MiB" : nullptr);
    }
    return CZuError();
}
