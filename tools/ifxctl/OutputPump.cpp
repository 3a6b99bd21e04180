#include "OutputPump.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "Output.h"

namespace ifxctl {

namespace {

constexpr size_t kOutputChunk = size_t{64} * 1024;

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

void OutputPump::Read() {
    const long received = m_child.ReadBytes(m_buffer.data(), m_buffer.size());
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
