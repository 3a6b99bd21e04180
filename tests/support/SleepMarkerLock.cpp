#include "support/SleepMarkerLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ifxtest {

const char* SleepMarkerLock::Path() {
    // /run/lock is where Debian keeps machine-wide lock files, writable by everyone with
    // the sticky bit; a system image without it still has /tmp, the marker's own directory.
    struct stat runLock {};
    return ::stat("/run/lock", &runLock) == 0 && S_ISDIR(runLock.st_mode)
               ? "/run/lock/ifxlib-test-sleep-marker.lock"
               : "/tmp/ifxlib-test-sleep-marker.lock";
}

SleepMarkerLock::SleepMarkerLock(Use use) {
    const char* path = Path();
    // Read-only is enough for flock, so a lock file that another user created serves too;
    // O_NOFOLLOW: in a sticky directory a planted link must not lead elsewhere.
    m_fd = ::open(path, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_error = std::string("open ") + path + ": " + std::strerror(errno);
        return;
    }
    const int operation = use == Use::kCreatesTheMarker ? LOCK_EX : LOCK_SH;
    int result;
    do {
        result = ::flock(m_fd, operation);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        m_error = std::string("flock ") + path + ": " + std::strerror(errno);
        ::close(m_fd);
        m_fd = -1;
    }
}

SleepMarkerLock::~SleepMarkerLock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

}  // namespace ifxtest
