// run: one utility launched the way the agent launches it, fed commands, its output
// streamed as it arrives and its exit status reported.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <JxLib/JxThread.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "Output.h"

namespace ifxctl {

namespace {

constexpr size_t kOutputChunk = size_t{64} * 1024;
constexpr size_t kInputChunk = size_t{64} * 1024;
// A line of standard input becomes one command; one longer than this is refused rather
// than held in memory without end (a stream without line feeds, say).
constexpr size_t kMaxCommandLength = size_t{1024} * 1024;

// A null-terminated char* array over owned strings, as the launches take them.
class CStringArray {
  public:
    explicit CStringArray(std::vector<std::string> items) : m_items(std::move(items)) {
        for (std::string& item : m_items) {
            m_pointers.push_back(item.data());
        }
        m_pointers.push_back(nullptr);
    }
    CStringArray(const CStringArray&) = delete;
    CStringArray& operator=(const CStringArray&) = delete;

    char** get() { return m_pointers.data(); }

  private:
    std::vector<std::string> m_items;
    std::vector<char*> m_pointers;
};

// The name of the user running ifxctl, or empty when the user database has none.
std::string ownUserName() {
    long capacity = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> scratch(static_cast<size_t>(capacity > 0 ? capacity : 16384));
    struct passwd record {};
    struct passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &record, scratch.data(), scratch.size(), &found) == ERANGE) {
        scratch.resize(scratch.size() * 2);
    }
    return found != nullptr ? found->pw_name : "";
}

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

// The conversation with one running utility: commands go to its standard input as the
// pipe takes them, its output goes to our standard output as it arrives. Everything runs
// on this thread around one poll(), but for the writing of a long command (sendLong);
// the object is never used from two of our threads at once.
class Conversation {
  public:
    Conversation(IfxChildProcess& child, const std::vector<std::string>& sends)
        : m_child(child), m_pending(sends.begin(), sends.end()), m_output(kOutputChunk) {
        // IfxChildProcess closes both of its pipe ends when a write fails; what the
        // utility wrote before that must still reach the operator, so we keep a read
        // end of our own for that case.
        m_ownOutput = ::fcntl(m_child.m_phpipecw[0], F_DUPFD_CLOEXEC, 3);
    }
    ~Conversation() {
        if (m_ownOutput >= 0) {
            ::close(m_ownOutput);
        }
    }
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    // Returns once the utility's output has ended and nothing more can be sent to it.
    // False when the conversation broke off on an error of our own side.
    bool Run();

  private:
    enum class Reader { Object, OwnDescriptor };

    int outputDescriptor() const {
        return m_reader == Reader::Object ? m_child.m_phpipecw[0] : m_ownOutput;
    }
    void readOutput(short events);
    void readOutputThroughObject(short events);
    void readOutputDirectly();
    void forward(const char* data, size_t length);
    void handleInputPipe(short events);
    void send(std::string& text);
    void sendLong(std::string& text);
    void readStandardInput();
    void queueLine(std::string line);
    void stopSending(const std::string& reason, size_t lost);
    void finishSending();

    IfxChildProcess& m_child;
    std::deque<std::string> m_pending;
    std::string m_partialLine;
    std::vector<char> m_output;
    int m_ownOutput = -1;
    Reader m_reader = Reader::Object;
    bool m_stdinOpen = true;   // our standard input may give more lines
    bool m_sending = true;     // the utility's standard input is still ours to write
    bool m_outputOpen = true;  // the utility's output has not ended
    bool m_forwarding = true;  // our standard output takes what the utility says
    bool m_failed = false;
};

bool Conversation::Run() {
    if (m_ownOutput < 0) {
        Complain("cannot duplicate the output pipe: " + ErrorText(errno));
        return false;
    }
    while ((m_outputOpen || m_sending) && !m_failed) {
        if (m_sending && !m_stdinOpen && m_pending.empty()) {
            finishSending();
            continue;
        }
        struct pollfd watched[3] = {};
        int count = 0;
        int output = -1, input = -1, stdinIndex = -1;
        if (m_outputOpen) {
            output = count++;
            watched[output] = {outputDescriptor(), POLLIN, 0};
        }
        if (m_sending) {
            // Watched even with nothing to send: an error on it says that the utility
            // has closed its input, so that no further line of ours can reach it.
            input = count++;
            watched[input] = {m_child.m_phpipepw[1],
                              static_cast<short>(m_pending.empty() ? 0 : POLLOUT), 0};
            // More lines only once the last ones went out: a utility that reads slowly
            // holds our reading back instead of our memory growing.
            if (m_stdinOpen && m_pending.empty()) {
                stdinIndex = count++;
                watched[stdinIndex] = {STDIN_FILENO, POLLIN, 0};
            }
        }
        if (::poll(watched, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Complain("poll failed: " + ErrorText(errno));
            return false;
        }
        // Output first: when the utility has both answered and gone, its answer is read
        // before a failed write could close the pipe it is in.
        if (output >= 0 && watched[output].revents != 0) {
            readOutput(watched[output].revents);
        }
        if (input >= 0 && watched[input].revents != 0 && m_sending) {
            handleInputPipe(watched[input].revents);
        }
        if (stdinIndex >= 0 && watched[stdinIndex].revents != 0 && m_sending) {
            readStandardInput();
        }
    }
    return !m_failed;
}

void Conversation::readOutput(short events) {
    if (m_reader == Reader::Object) {
        readOutputThroughObject(events);
    } else {
        readOutputDirectly();
    }
}

void Conversation::readOutputThroughObject(short events) {
    // One byte short of the buffer, so that a full read still ends in a NUL.
    const size_t capacity = m_output.size() - 1;
    const size_t available = std::min(readableBytes(m_child.m_phpipecw[0]), capacity);
    const size_t asked = available > 0 ? available : capacity;
    if (m_child.ReadBuf(m_output.data(), static_cast<long>(asked)) == 0) {
        forward(m_output.data(),
                available > 0 ? available : receivedLength(m_output.data(), capacity));
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
        m_outputOpen = false;
        m_failed = true;
        return;
    }
    if ((events & POLLHUP) != 0 && readableBytes(m_child.m_phpipecw[0]) == 0) {
        m_outputOpen = false;
    }
}

void Conversation::readOutputDirectly() {
    const ssize_t received = ::read(m_ownOutput, m_output.data(), m_output.size());
    if (received > 0) {
        forward(m_output.data(), static_cast<size_t>(received));
        return;
    }
    if (received == 0) {
        m_outputOpen = false;
        return;
    }
    if (errno == EAGAIN || errno == EINTR) {
        return;
    }
    Complain("reading the utility's output failed: " + ErrorText(errno));
    m_outputOpen = false;
    m_failed = true;
}

void Conversation::forward(const char* data, size_t length) {
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

void Conversation::handleInputPipe(short events) {
    if ((events & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        stopSending("the utility closed its standard input", 0);
        return;
    }
    if ((events & POLLOUT) != 0 && !m_pending.empty()) {
        std::string text = std::move(m_pending.front());
        m_pending.pop_front();
        send(text);
    }
}

void Conversation::send(std::string& text) {
    // The pipe has room for at least PIPE_BUF bytes now, so a text that fits goes out
    // without blocking; a longer one needs the utility to read while we write.
    if (text.size() + 1 > PIPE_BUF) {
        sendLong(text);
        return;
    }
    if (m_child.WriteBuf(text.data()) != 0) {
        const int error = m_child.m_lasterror;
        m_reader = Reader::OwnDescriptor;
        stopSending("sending to the utility failed: " + ErrorText(error), 1);
    }
}

// WriteBuf blocks until the utility has taken the whole text. A utility that answers
// earlier commands before it reads on would wait for us to read its output while we wait
// for it to read: so a helper thread writes, and this thread keeps reading, through its
// own descriptor, leaving the object to the writer until it is done.
void Conversation::sendLong(std::string& text) {
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
    const Reader reader = m_reader;
    m_reader = Reader::OwnDescriptor;
    bool writing = true;
    while (writing) {
        struct pollfd watched[2] = {{done[0], POLLIN, 0}, {m_ownOutput, POLLIN, 0}};
        const nfds_t count = m_outputOpen ? 2 : 1;
        if (::poll(watched, count, -1) < 0 && errno != EINTR) {
            // Nothing else to do but wait for the writer.
            Complain("poll failed: " + ErrorText(errno));
            m_failed = true;
            break;
        }
        writing = watched[0].revents == 0;
        if (m_outputOpen && watched[1].revents != 0) {
            readOutputDirectly();
        }
    }
    writer.join();
    ::close(done[0]);
    m_reader = reader;
    if (result != 0) {
        m_reader = Reader::OwnDescriptor;
        stopSending("sending to the utility failed: " + ErrorText(error), 1);
    }
}

void Conversation::readStandardInput() {
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
            queueLine(std::move(m_partialLine));
        }
        m_partialLine.clear();
        m_stdinOpen = false;
        return;
    }
    const char* start = chunk;
    const char* end = chunk + received;
    while (start < end) {
        const char* newline = static_cast<const char*>(std::memchr(start, '\n', end - start));
        if (newline == nullptr) {
            m_partialLine.append(start, end);
            break;
        }
        m_partialLine.append(start, newline);
        queueLine(std::move(m_partialLine));
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

void Conversation::queueLine(std::string line) {
    m_pending.push_back(std::move(line));
}

// Lines still on our standard input are left unread; only commands that were already
// taken from it, or given with --send, are counted as lost.
void Conversation::stopSending(const std::string& reason, size_t lost) {
    lost += m_pending.size();
    if (lost > 0) {
        Complain(reason + "; " + std::to_string(lost) + " command(s) not sent");
    }
    m_pending.clear();
    m_sending = false;
    m_stdinOpen = false;
}

// Everything is sent: the utility gets the end of its input. IfxChildProcess has no call
// that closes its write end alone (Finalize closes both, and the output is still to be
// read), so /dev/null takes the descriptor's place; the object still closes it.
void Conversation::finishSending() {
    m_sending = false;
    if (!replaceWithDevNull(m_child.m_phpipepw[1])) {
        Complain("cannot close the utility's input: " + ErrorText(errno) +
                 "; closing both pipe ends instead");
        m_child.Finalize();
        m_reader = Reader::OwnDescriptor;
    }
}

// How a status came about, when the launch can tell: the launch's own exit codes for a
// child that failed before it ran the program, and 128 + n for a signal.
std::string describeStatus(int status, bool signalKnown, bool bySignal) {
    std::string text = "exit status " + std::to_string(status);
    switch (status) {
        case 77:
            return text +
                   ": the launch could not connect the utility's standard streams to "
                   "the pipes (the library's log has the reason)";
        case 79:
            return text +
                   ": the launch could not execute the program (the library's log has "
                   "the reason)";
        case 81:
            return text +
                   ": the launch could not look up or switch to the user (the "
                   "library's log has the reason)";
        default:
            break;
    }
    const int signal = status - 128;
    if (signal > 0 && signal < NSIG && (!signalKnown || bySignal)) {
        const char* name = ::strsignal(signal);
        text += ": ended by signal " + std::to_string(signal) + " (" +
                (name != nullptr ? name : "unknown") + ")";
        if (!signalKnown) {
            text += ", unless the utility exited with " + std::to_string(status) + " itself";
        }
    }
    return text;
}

struct Outcome {
    bool known = false;
    int status = 0;
    bool signalKnown = false;
    bool bySignal = false;
};

// The direct launch leaves its child to the caller.
Outcome reap(pid_t pid) {
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &raw, 0);
    } while (result < 0 && errno == EINTR);
    if (result != pid) {
        Complain("waiting for the utility failed: " + ErrorText(errno));
        return {};
    }
    if (WIFSIGNALED(raw)) {
        return {true, 128 + WTERMSIG(raw), true, true};
    }
    return {true, WEXITSTATUS(raw), true, false};
}

// The wait thread's report is final once the thread has ended.
Outcome joinWaitThread(IfxChildProcess& child) {
    const int joined = child.m_pthread->join();
    if (joined != 0) {
        Complain("cannot join the wait thread: " + ErrorText(joined));
        return {};
    }
    if (child.m_bwaitdone) {
        return {true, 0};
    }
    const auto status = static_cast<int>(child.m_exitcode);
    if (child.m_bwaitfailed && status != 0) {
        return {true, status};
    }
    Complain("the wait for the utility gave no status (the library's log has the reason)");
    return {};
}

Outcome waitHere(IfxChildProcess& child) {
    const int status = child.Wait(0);
    if (status < 0) {
        Complain("the wait for the utility gave no status (the library's log has the reason)");
        return {};
    }
    return {true, status};
}

}  // namespace

int Run(const RunOptions& options) {
    // The log variables are read when the event is made.
    EvEvent event;
    std::string path = options.command.front();
    CStringArray argv(options.command);
    std::vector<std::string> names, values;
    for (const std::string& pair : options.env) {
        const size_t equals = pair.find('=');
        names.push_back(pair.substr(0, equals));
        values.push_back(pair.substr(equals + 1));
    }
    CStringArray envNames(std::move(names)), envValues(std::move(values));

    // The direct launch switches no user without a name; the process service launch
    // always switches, so it gets our own.
    std::string user = options.user.value_or("");
    if (!options.user && !options.direct) {
        user = ownUserName();
        if (user.empty()) {
            Complain("the user running ifxctl (uid " + std::to_string(::getuid()) +
                     ") has no name in the user database; name one with --user");
            return kExitRunFailed;
        }
    }
    char* userName = options.user || !options.direct ? user.data() : nullptr;

    IfxChildProcess child;
    const int launched =
        options.direct
            ? child.Initialize(path.data(), argv.get(), userName, envNames.get(), envValues.get(),
                               &event, false, options.nonBlocking, false, nullptr)
            : child.InitializeLinux(path.data(), argv.get(), userName, envNames.get(),
                                    envValues.get(), &event, false, options.nonBlocking, false,
                                    nullptr);
    if (launched != 0) {
        Complain("cannot launch " + path + ": " + ErrorText(child.m_lasterror));
        child.Finalize();
        return kExitRunFailed;
    }
    bool waitThread = false;
    if (!options.direct) {
        waitThread = child.BeginWait() == 0;
        if (!waitThread) {
            Complain("cannot start the wait thread: " + ErrorText(child.m_lasterror) +
                     "; waiting in this thread instead");
        }
    }

    bool talked;
    {
        Conversation conversation(child, options.sends);
        talked = conversation.Run();
    }
    // Also ends the utility's input if the conversation broke off before that.
    child.Finalize();
    const Outcome outcome = options.direct ? reap(child.m_childpid)
                            : waitThread   ? joinWaitThread(child)
                                           : waitHere(child);
    if (!outcome.known) {
        return kExitRunFailed;
    }
    Complain(describeStatus(outcome.status, outcome.signalKnown, outcome.bySignal));
    return talked ? outcome.status : kExitRunFailed;
}

}  // namespace ifxctl
