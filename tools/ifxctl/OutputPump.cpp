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
    Close();
}

void OutputPump::Close() {
    if (m_own >= 0) {
        ::close(m_own);
        m_own = -1;
    }
    m_open = false;
}

void OutputPump::Drain() {
    if (!m_open || m_own < 0) {
        return;
    }
    // The utility's pipe is closed right after this, so the flag it gets on the shared
    // file description changes no later read of anyone else.
    const int flags = ::fcntl(m_own, F_GETFL);
    if (flags < 0 || ::fcntl(m_own, F_SETFL, flags | O_NONBLOCK) != 0) {
        Complain("cannot read the rest of the utility's output: " + ErrorText(errno));
        return;
    }
    while (m_open) {
        const ssize_t received = ::read(m_own, m_buffer.data(), m_buffer.size());
        if (received > 0) {
            forward(m_buffer.data(), static_cast<size_t>(received));
        } else if (received == 0 || errno != EINTR) {
            return;
        }
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
    if (length == 0 || m_outputClosed) {
        return;
    }
    if (!WriteAll(STDOUT_FILENO, data, length)) {
        // A reader that went away is the pipeline's way to end, and the utility's status
        // will tell; any other refusal is worth a word.
        if (errno != EPIPE) {
            Complain("cannot write to standard output: " + ErrorText(errno));
        }
        m_outputClosed = true;
        m_open = false;
        return;
    }
    NoteOutputEnd(data[length - 1]);
}

}  // namespace ifxctl
