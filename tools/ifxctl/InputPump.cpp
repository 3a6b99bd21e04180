#include "InputPump.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "Output.h"

namespace ifxctl {

namespace {

constexpr size_t kInputChunk = size_t{64} * 1024;
// A line of standard input becomes one command; one longer than this is refused rather
// than held in memory without end (a stream without line feeds, say).
constexpr size_t kMaxCommandLength = size_t{1024} * 1024;

// Leaves the descriptor behind fd pointing at /dev/null: whoever reads the old file sees
// its end, and the number stays valid for its owner to close.
bool replaceWithDevNull(int fd) {
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull < 0) {
        return false;
    }
    int result;
    do {
        result = ::dup3(devNull, fd, O_CLOEXEC);
    } while (result < 0 && errno == EINTR);
    const int saved = errno;
    ::close(devNull);
    errno = saved;
    return result == fd;
}

std::string withNewlines(const std::vector<std::string>& sends) {
    std::string text;
    for (const std::string& send : sends) {
        text += send + "\n";
    }
    return text;
}

}  // namespace

InputPump::InputPump(IfxChildProcess& child, OutputPump& output,
                     const std::vector<std::string>& sends, bool commands)
    : m_child(child), m_output(output), m_commands(commands) {
    if (m_commands) {
        m_pending.assign(sends.begin(), sends.end());
        return;
    }
    if (!sends.empty()) {
        m_pending.push_back(withNewlines(sends));
    }
    // Written as the pipe takes it, never blocking the loop; the descriptor is ours
    // alone (the utility has the other end), so the flag changes nobody else's calls.
    const int flags = ::fcntl(PipeDescriptor(), F_GETFL);
    if (flags < 0 || ::fcntl(PipeDescriptor(), F_SETFL, flags | O_NONBLOCK) != 0) {
        Complain("cannot set up the utility's input: " + ErrorText(errno));
        m_failed = true;
    }
}

short InputPump::PipeEvents() const {
    return static_cast<short>(m_pending.empty() ? 0 : POLLOUT);
}

void InputPump::OnPipe(short events) {
    if ((events & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        stopSending("the utility closed its standard input");
        return;
    }
    if ((events & POLLOUT) == 0 || m_pending.empty()) {
        return;
    }
    if (!m_commands) {
        writeBytes();
        return;
    }
    std::string text = std::move(m_pending.front());
    m_pending.pop_front();
    sendCommand(text);
}

void InputPump::writeBytes() {
    while (!m_pending.empty()) {
        const std::string& piece = m_pending.front();
        const ssize_t written =
            ::write(PipeDescriptor(), piece.data() + m_written, piece.size() - m_written);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                return;
            }
            stopSending(errno == EPIPE ? "the utility closed its standard input"
                                       : "sending to the utility failed: " + ErrorText(errno));
            return;
        }
        m_written += static_cast<size_t>(written);
        if (m_written == piece.size()) {
            m_pending.pop_front();
            m_written = 0;
        }
    }
}

void InputPump::sendCommand(std::string& text) {
    // The pipe has room for at least PIPE_BUF bytes now, so a text that fits goes out
    // without blocking; a longer one needs the utility to read while we write.
    if (text.size() + 1 > PIPE_BUF) {
        sendLongCommand(text);
        return;
    }
    if (m_child.WriteBuf(text.data()) != 0) {
        const int error = m_child.m_lasterror;
        m_output.UseOwnDescriptor();
        m_pending.push_front(std::move(text));
        stopSending("sending to the utility failed: " + ErrorText(error));
    }
}

// WriteBuf blocks until the utility has taken the whole text. A utility that answers
// earlier commands before it reads on would wait for us to read its output while we wait
// for it to read: so a helper thread writes, and this thread keeps reading, through its
// own descriptor, leaving the object to the writer until it is done.
void InputPump::sendLongCommand(std::string& text) {
    int done[2];
    if (::pipe2(done, O_CLOEXEC) != 0) {
        Complain("cannot create a pipe: " + ErrorText(errno));
        m_failed = true;
        return;
    }
    int result = 0;
    int error = 0;
    std::thread writer([&] {
        result = m_child.WriteBuf(text.data());
        error = m_child.m_lasterror;
        ::close(done[1]);
    });
    const bool throughObject = m_output.ThroughObject();
    m_output.UseOwnDescriptor();
    bool writing = true;
    while (writing) {
        struct pollfd watched[2] = {{done[0], POLLIN, 0}, {m_output.OwnDescriptor(), POLLIN, 0}};
        const nfds_t count = m_output.Open() ? 2 : 1;
        if (::poll(watched, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Nothing else to do but wait for the writer.
            Complain("poll failed: " + ErrorText(errno));
            m_failed = true;
            break;
        }
        writing = watched[0].revents == 0;
        if (m_output.Open() && watched[1].revents != 0) {
            m_output.Read(watched[1].revents);
        }
    }
    writer.join();
    ::close(done[0]);
    if (throughObject) {
        m_output.UseObject();
    }
    if (result != 0) {
        m_output.UseOwnDescriptor();
        m_pending.push_front(std::move(text));
        stopSending("sending to the utility failed: " + ErrorText(error));
    }
}

void InputPump::ReadStandardInput() {
    char chunk[kInputChunk];
    const ssize_t received = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (received < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (received < 0) {
        Complain("cannot read standard input: " + ErrorText(errno));
    }
    if (received <= 0) {
        // The last line needs no line feed.
        if (!m_partialLine.empty()) {
            m_pending.push_back(std::move(m_partialLine));
        }
        m_partialLine.clear();
        m_stdinOpen = false;
        return;
    }
    if (m_commands) {
        takeLines(chunk, static_cast<size_t>(received));
    } else {
        m_pending.emplace_back(chunk, static_cast<size_t>(received));
    }
}

void InputPump::takeLines(const char* data, size_t length) {
    const char* start = data;
    const char* end = data + length;
    while (start < end) {
        const char* newline =
            static_cast<const char*>(std::memchr(start, '\n', static_cast<size_t>(end - start)));
        if (newline == nullptr) {
            m_partialLine.append(start, end);
            break;
        }
        m_partialLine.append(start, newline);
        // An empty line sends nothing.
        if (!m_partialLine.empty()) {
            m_pending.push_back(std::move(m_partialLine));
        }
        m_partialLine.clear();
        start = newline + 1;
    }
    if (m_partialLine.size() > kMaxCommandLength) {
        Complain("a line of standard input is longer than " + std::to_string(kMaxCommandLength) +
                 " bytes; it is not sent and no further line is read");
        m_partialLine.clear();
        m_stdinOpen = false;
    }
}

// What is still on our standard input is left unread; only what was already taken from
// it, or given with --send, is counted as lost.
void InputPump::stopSending(const std::string& reason) {
    size_t lost = 0;
    for (const std::string& piece : m_pending) {
        lost += piece.size();
    }
    lost -= m_written;
    if (!m_pending.empty()) {
        Complain(reason + "; " +
                 (m_commands ? std::to_string(m_pending.size()) + " command(s)"
                             : std::to_string(lost) + " byte(s)") +
                 " not sent");
    }
    m_pending.clear();
    m_written = 0;
    m_sending = false;
    m_stdinOpen = false;
}

// Everything is sent: the utility gets the end of its input. IfxChildProcess has no call
// that closes its write end alone (Finalize closes both, and the output is still to be
// read), so /dev/null takes the descriptor's place; the object still closes it.
bool InputPump::FinishWhenDone() {
    if (!m_sending || m_stdinOpen || !m_pending.empty()) {
        return false;
    }
    m_sending = false;
    if (!replaceWithDevNull(PipeDescriptor())) {
        Complain("cannot close the utility's input: " + ErrorText(errno) +
                 "; closing both pipe ends instead");
        m_child.Finalize();
        m_output.UseOwnDescriptor();
    }
    return true;
}

}  // namespace ifxctl
