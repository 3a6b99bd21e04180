#include "LaunchReport.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace ifxlib {

namespace {

void WriteRecord(int reportWriteEnd, const LaunchRecord& record) {
    if (reportWriteEnd < 0) {
        return;
    }
    [[maybe_unused]] const ssize_t written = ::write(reportWriteEnd, &record, sizeof record);
}

}  // namespace

LaunchReport::~LaunchReport() {
    Abandon();
}

int LaunchReport::Open() {
    // Non-blocking at both ends in one call: the child's few writes of a few bytes into a
    // pipe nobody else writes never wait anyway.
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_openError = errno;
        return -1;
    }
    m_fd = ends[0];
    return ends[1];
}

void LaunchReport::Abandon() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

// One record, true when one arrived; false at the end of the pipe or while it is empty.
bool LaunchReport::Read() {
    LaunchRecord record{};
    ssize_t received;
    do {
        received = ::read(m_fd, &record, sizeof record);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        // EAGAIN: nothing more yet.
        return false;
    }
    if (received == 0) {
        m_ended = true;
        Abandon();
        return false;
    }
    // A record cut short cannot happen (one write of less than PIPE_BUF); it would be
    // taken for no record.
    if (received != static_cast<ssize_t>(sizeof record)) {
        return true;
    }
    switch (record.stage) {
        case LaunchStage::kFailed:
            m_failed = true;
            m_error = record.error;
            m_step = record.step;
            break;
        case LaunchStage::kTiedToLauncher:
            m_tied = true;
            break;
        case LaunchStage::kExecuting:
            m_executing = true;
            break;
    }
    return true;
}

void LaunchReport::Collect() {
    while (m_fd >= 0 && Read()) {
    }
}

bool LaunchReport::AwaitTie(int endedFd) {
    for (;;) {
        Collect();
        if (m_tied || m_failed || m_fd < 0) {
            return m_tied && !m_failed;
        }
        struct pollfd entries[2] = {};
        entries[0].fd = m_fd;
        entries[0].events = POLLIN;
        entries[1].fd = endedFd;
        entries[1].events = POLLIN;
        const int ready = ::poll(entries, endedFd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready > 0 && (entries[1].revents & POLLIN) != 0 && endedFd >= 0) {
            // The child ended: whatever it wrote is there now.
            Collect();
            return m_tied && !m_failed;
        }
    }
}

int LaunchReport::Answer(bool childEnded, int* step) {
    Collect();
    if (m_failed) {
        if (step != nullptr) {
            *step = m_step;
        }
        return m_error;
    }
    if (m_openError != 0 && !m_ended) {
        errno = m_openError;
        return -1;
    }
    if (m_ended || childEnded) {
        if (m_executing) {
            if (step != nullptr) {
                *step = 0;
            }
            return 0;
        }
        errno = ECANCELED;
        return -1;
    }
    errno = EINPROGRESS;
    return -1;
}

void WriteLaunchFailure(int reportWriteEnd, int error, int step) {
    WriteRecord(reportWriteEnd, LaunchRecord{LaunchStage::kFailed, error, step});
}

void WriteLaunchStage(int reportWriteEnd, LaunchStage stage) {
    WriteRecord(reportWriteEnd, LaunchRecord{stage, 0, 0});
}

}  // namespace ifxlib
