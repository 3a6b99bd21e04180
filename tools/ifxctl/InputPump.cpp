#include "InputPump.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Output.h"

namespace ifxctl {

namespace {

constexpr size_t kInputChunk = size_t{64} * 1024;
// A line of standard input becomes one command; one longer than this is refused rather
// than held in memory without end (a stream without line feeds, say).
constexpr size_t kMaxCommandLength = size_t{1024} * 1024;

// The --send texts as they go: each with a newline, or as a command with its NUL (an
// empty command sends nothing).
std::string sendTexts(const std::vector<std::string>& sends, bool commands) {
    std::string text;
    for (const std::string& send : sends) {
        if (!commands) {
            text += send + "\n";
        } else if (!send.empty()) {
            text += send;
            text += '\0';
        }
    }
    return text;
}

}  // namespace

InputPump::InputPump(IfxChildProcess& child, const std::vector<std::string>& sends, bool commands)
    : m_child(child), m_commands(commands) {
    std::string first = sendTexts(sends, commands);
    if (!first.empty()) {
        m_pending.push_back(std::move(first));
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
        stopSending("");
        return;
    }
    if ((events & POLLOUT) != 0) {
        writeBytes();
    }
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
            stopSending(errno == EPIPE ? "" : "sending to the utility failed: " + ErrorText(errno));
            return;
        }
        m_written += static_cast<size_t>(written);
        if (m_written == piece.size()) {
            m_pending.pop_front();
            m_written = 0;
        }
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
            m_partialLine += '\0';
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

// Each whole line becomes its command, NUL-terminated, all of them in one piece.
void InputPump::takeLines(const char* data, size_t length) {
    // Each line's newline becomes its NUL: one allocation holds them all.
    std::string commands;
    commands.reserve(m_partialLine.size() + length + 1);
    const char* start = data;
    const char* end = data + length;
    while (start < end) {
        const char* newline =
            static_cast<const char*>(std::memchr(start, '\n', static_cast<size_t>(end - start)));
        if (newline == nullptr) {
            m_partialLine.append(start, end);
            break;
        }
        // An empty line sends nothing.
        if (!m_partialLine.empty() || newline > start) {
            commands += m_partialLine;
            commands.append(start, newline);
            commands += '\0';
        }
        m_partialLine.clear();
        start = newline + 1;
    }
    if (!commands.empty()) {
        m_pending.push_back(std::move(commands));
    }
    if (m_partialLine.size() > kMaxCommandLength) {
        Complain("a line of standard input is longer than " + std::to_string(kMaxCommandLength) +
                 " bytes; it is not sent and no further line is read");
        m_partialLine.clear();
        m_stdinOpen = false;
    }
}

// What is still on our standard input is left unread; only what was already taken from
// it, or given with --send, is counted as lost. A utility that closed its input takes no
// more, as in a pipeline, and is not worth a word; another failure is.
void InputPump::stopSending(const std::string& reason) {
    size_t lost = 0;
    for (const std::string& piece : m_pending) {
        lost += piece.size();
    }
    lost -= m_written;
    if (lost > 0 && !reason.empty()) {
        Complain(reason + "; " + std::to_string(lost) + " byte(s) not sent");
    }
    m_pending.clear();
    m_written = 0;
    m_sending = false;
    m_stdinOpen = false;
}

void InputPump::Abandon() {
    stopSending("");
}

// Everything is sent: the utility gets the end of its input, while its output is still
// to be read.
bool InputPump::FinishWhenDone() {
    if (!m_sending || m_stdinOpen || !m_pending.empty()) {
        return false;
    }
    m_sending = false;
    m_child.CloseInput();
    return true;
}

}  // namespace ifxctl
