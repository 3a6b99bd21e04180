#include "OutputPump.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Output.h"

namespace ifxctl {

namespace {

constexpr size_t kOutputChunk = size_t{64} * 1024;

// ReadBuf reports no byte count. Asked for no more than the pipe holds, one read returns
// exactly that much; otherwise the zero-filled buffer's data ends at its last non-zero
// byte, which loses NUL bytes only at the very end of a chunk.
size_t readableBytes(int fd) {
    int available = 0;
    return ::ioctl(fd, FIONREAD, &available) == 0 && available > 0 ? static_cast<size_t>(available)
                                                                   : 0;
}

size_t receivedLength(const char* buffer, size_t capacity) {
    size_t length = capacity;
    while (length > 0 && buffer[length - 1] == '\0') {
        --length;
    }
    return length;
}

}  // namespace

OutputPump::OutputPump(IfxChildProcess& child) : m_child(child), m_buffer(kOutputChunk) {
    m_own = ::fcntl(m_child.m_phpipecw[0], F_DUPFD_CLOEXEC, 3);
}

OutputPump::~OutputPump() {
    if (m_own >= 0) {
        ::close(m_own);
    }
}

bool OutputPump::Ready() const {
    if (m_own < 0) {
        Complain("cannot duplicate the output pipe: " + ErrorText(errno));
        return false;
    }
    return true;
}

int OutputPump::Descriptor() const {
    return m_throughObject ? m_child.m_phpipecw[0] : m_own;
}

void OutputPump::Read(short events) {
    if (m_throughObject) {
        readThroughObject(events);
    } else {
        readDirectly();
    }
}

void OutputPump::readThroughObject(short events) {
    // One byte short of the buffer, so that a full read still ends in a NUL.
    const size_t capacity = m_buffer.size() - 1;
    const size_t available = std::min(readableBytes(m_child.m_phpipecw[0]), capacity);
    const size_t asked = available > 0 ? available : capacity;
    if (m_child.ReadBuf(m_buffer.data(), static_cast<long>(asked)) == 0) {
        forward(m_buffer.data(),
                available > 0 ? available : receivedLength(m_buffer.data(), capacity));
        return;
    }
    // -1: the output has ended, nothing is there yet, or the read failed. m_lasterror
    // would say which, but a running wait thread writes it too; so the pipe decides. The
    // end of the output is final once every writer is gone and nothing is left: no
    // writer can come back. (Non-blocking mode calls that "nothing yet" until the wait
    // thread has seen the child end, and after Initialize it never does.)
    if ((events & POLLNVAL) != 0) {
        Complain("reading the utility's output failed: " +
                 ErrorText(static_cast<int>(m_child.m_lasterror)));
        m_open = false;
        m_failed = true;
        return;
    }
    if ((events & POLLHUP) != 0 && readableBytes(m_child.m_phpipecw[0]) == 0) {
        m_open = false;
    }
}

void OutputPump::readDirectly() {
    const ssize_t received = ::read(m_own, m_buffer.data(), m_buffer.size());
    if (received > 0) {
        forward(m_buffer.data(), static_cast<size_t>(received));
        return;
    }
    if (received == 0) {
        m_open = false;
        return;
    }
    if (errno == EAGAIN || errno == EINTR) {
        return;
    }
    Complain("reading the utility's output failed: " + ErrorText(errno));
    m_open = false;
    m_failed = true;
}

void OutputPump::forward(const char* data, size_t length) {
    if (!m_forwarding) {
        return;
    }
    if (!WriteAll(STDOUT_FILENO, data, length)) {
        // The utility keeps running to its end; what it says from now on is dropped so
        // that it is never stuck on a full pipe.
        Complain("cannot write to standard output: " + ErrorText(errno) +
                 "; the utility's further output is discarded");
        m_forwarding = false;
    }
}

}  // namespace ifxctl
