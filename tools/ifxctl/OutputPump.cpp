#include "OutputPump.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "Output.h"

namespace ifxctl {

OutputPump::OutputPump(IfxChildProcess& child, StandardOutputWriter& writer)
    : m_child(child), m_writer(writer) {
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

bool OutputPump::WantsToRead() {
    if (!m_open) {
        return false;
    }
    return m_writer.FreeSpace().size > 0;
}

bool OutputPump::CheckStandardOutput() {
    const int refusal = m_writer.Refusal();
    if (refusal == 0 || m_outputClosed) {
        return m_outputClosed;
    }
    // A reader that went away is the pipeline's way to end, and the utility's status
    // will tell; any other refusal is worth a word.
    if (refusal != EPIPE) {
        Complain("cannot write to standard output: " + ErrorText(refusal));
    }
    m_outputClosed = true;
    m_open = false;
    return true;
}

void OutputPump::Drain() {
    if (!m_open || m_own < 0 || m_writer.Refusal() != 0) {
        return;
    }
    // The utility's pipe is closed right after this, so the flag it gets on the shared
    // file description changes no later read of anyone else.
    const int flags = ::fcntl(m_own, F_GETFL);
    if (flags < 0 || ::fcntl(m_own, F_SETFL, flags | O_NONBLOCK) != 0) {
        Complain("cannot read the rest of the utility's output: " + ErrorText(errno));
        return;
    }
    // What the pipe holds now, and no more: a process the utility started may go on
    // writing into it. The ring takes what it has room for, the rest goes after it.
    const int capacity = ::fcntl(m_own, F_GETPIPE_SZ);
    size_t left = capacity > 0 ? static_cast<size_t>(capacity) : size_t{65536};
    std::string rest;
    while (left > 0) {
        StandardOutputWriter::Space space = m_writer.FreeSpace();
        const size_t before = rest.size();
        if (space.size == 0) {
            rest.resize(before + left);
            space = {&rest[before], left};
        }
        ssize_t received;
        do {
            received = ::read(m_own, space.at, std::min(space.size, left));
        } while (received < 0 && errno == EINTR);
        const size_t got = received > 0 ? static_cast<size_t>(received) : 0;
        if (space.at == &rest[before]) {
            rest.resize(before + got);
        } else {
            m_writer.Commit(got);
        }
        if (got == 0) {
            break;
        }
        left -= got;
    }
    m_writer.AddLast(std::move(rest));
}

size_t OutputPump::Unread() const {
    int bytes = 0;
    if (m_own < 0 || ::ioctl(m_own, FIONREAD, &bytes) != 0 || bytes < 0) {
        return 0;
    }
    return static_cast<size_t>(bytes);
}

bool OutputPump::Ready() const {
    if (m_own < 0) {
        Complain("cannot duplicate the output pipe: " + ErrorText(errno));
        return false;
    }
    return true;
}

void OutputPump::Read() {
    const StandardOutputWriter::Space space = m_writer.FreeSpace();
    if (space.size == 0) {
        return;
    }
    const long received = m_child.ReadBytes(space.at, space.size);
    if (received > 0) {
        m_writer.Commit(static_cast<size_t>(received));
        return;
    }
    const int error = errno;
    if (received == 0) {
        m_open = false;
        return;
    }
    if (error == EAGAIN || error == EINTR) {
        return;
    }
    Complain("reading the utility's output failed: " + ErrorText(error));
    m_open = false;
    m_failed = true;
}

}  // namespace ifxctl
