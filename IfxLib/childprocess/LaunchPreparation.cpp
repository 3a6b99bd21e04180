// What both launches do in the parent before they fork, and the parent's share of the
// pipes after it.

#include <IfxLib/IfxLib.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

#include <IfxLib/platform/HostServices.h>

namespace {

int openDevNull() {
    int fd;
    do {
        fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Like dup(2), but close-on-exec, so that a concurrent fork elsewhere in the process
// cannot carry the copy into another program while we still hold it.
int duplicateLowest(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// A copy that filled a free standard number must survive exec like the real thing.
int keepOrRelease(int fd) {
    if (fd <= STDERR_FILENO) {
        return ::fcntl(fd, F_SETFD, 0) == 0 ? 0 : -1;
    }
    ::close(fd);
    return 0;
}

// Makes sure descriptors 0, 1 and 2 are in use, so that no pipe end gets one of those
// numbers: a closed standard number is filled with "/dev/null" and stays so. The copies
// that landed above 2 served only as placeholders and are closed again. 0 or an errno.
int OccupyStandardDescriptors() {
    int opened[3] = {-1, -1, -1};
    int error = 0;
    opened[0] = openDevNull();
    if (opened[0] < 0) {
        return errno;
    }
    opened[1] = duplicateLowest(STDIN_FILENO);
    if (opened[1] < 0) {
        error = errno;
    } else {
        opened[2] = duplicateLowest(STDOUT_FILENO);
        if (opened[2] < 0) {
            error = errno;
        }
    }
    for (int fd : opened) {
        if (fd >= 0 && keepOrRelease(fd) != 0 && error == 0) {
            error = errno;
        }
    }
    return error;
}

}  // namespace

int IfxChildProcess::PrepareLaunch(const char* tag, const char* redirectFailedFormat) {
    m_blaunched = true;
    auto fail = [this, tag](const char* format, int error) {
        m_lasterror = error;
        EvDebug::Debug(m_pevent, tag, format, error);
        return -1;
    };
    if (const int error = OccupyStandardDescriptors(); error != 0) {
        return fail(redirectFailedFormat, error);
    }
    if (::signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
        return fail("signal failed: errno=%d", GETLASTERROR());
    }
    if (::pipe2(m_phpipecw, O_CLOEXEC) < 0) {
        return fail("pipe call failed when creating m_phpipecw : errno=%d", GETLASTERROR());
    }
    m_bownpipecw[0] = m_bownpipecw[1] = true;
    if (::pipe2(m_phpipepw, O_CLOEXEC) < 0) {
        return fail("pipe call failed when creating m_phpipepw : errno=%d", GETLASTERROR());
    }
    m_bownpipepw[0] = m_bownpipepw[1] = true;
    if (m_bnonblocking && ::fcntl(m_phpipecw[0], F_SETFL, O_NONBLOCK) == -1) {
        return fail("fcntl failed for m_phpipecw: errno=%d", GETLASTERROR());
    }
    return 0;
}

void IfxChildProcess::CloseChildEnds() {
    CloseIfOwned(m_phpipepw[0], m_bownpipepw[0]);
    CloseIfOwned(m_phpipecw[1], m_bownpipecw[1]);
}

void IfxChildProcess::CloseIfOwned(int descriptor, bool& owned) {
    if (owned) {
        // Linux releases the number even when close reports EINTR, so no retry.
        ::close(descriptor);
        owned = false;
    }
}
