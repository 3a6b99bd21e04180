#include "OutputRelay.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

#include "Output.h"

namespace ifxctl {

namespace {

constexpr size_t kPiece = size_t{64} * 1024;

bool writable(int fd) {
    struct pollfd out = {fd, POLLOUT, 0};
    int ready;
    while ((ready = ::poll(&out, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready == 1 && (out.revents & POLLOUT) != 0;
}

}  // namespace

// Owned by the object and its thread together: a thread stuck in a write to a reader that
// never reads outlives the object, and whichever lets go last releases the lot.
struct OutputRelay::Shared {
    int input = -1;          // the thread's own descriptor of the utility's pipe
    int stop[2] = {-1, -1};  // the loop's word to the thread: Finish
    int wake[2] = {-1, -1};  // the thread's word to the loop
    std::atomic<int> delivery{static_cast<int>(Delivery::kAll)};
    std::atomic<size_t> pending{0};  // read, not yet written
    std::atomic<int> refusal{0};
    std::atomic<int> readFailure{0};
    std::atomic<bool> done{false};

    ~Shared() {
        for (const int fd : {input, stop[0], stop[1], wake[0], wake[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    // A full pipe already holds a wake-up the loop has not read.
    void wakeLoop() { (void)!::write(wake[1], "", 1); }

    void end() {
        done = true;
        wakeLoop();
    }

    // Writes the piece, resuming after short writes; without waiting, only while
    // standard output polls writable, PIPE_BUF bytes at most at a time (a pipe that polls
    // writable has room for that much). False when it did not all go.
    bool writePiece(const char* bytes, size_t length, bool withoutWaiting) {
        pending = length;
        while (length > 0) {
            size_t chunk = length;
            if (withoutWaiting) {
                if (!writable(STDOUT_FILENO)) {
                    return false;
                }
                chunk = std::min<size_t>(chunk, PIPE_BUF);
            }
            const ssize_t written = ::write(STDOUT_FILENO, bytes, chunk);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written < 0) {
                refusal = errno;
                // As in a pipeline: nobody reads the utility's output any more.
                ::close(input);
                input = -1;
                return false;
            }
            NoteOutputEnd(bytes[written - 1]);
            bytes += written;
            length -= static_cast<size_t>(written);
            pending = length;
        }
        return true;
    }

    // What the pipe holds now, no more than its size, as the delivery says.
    void copyTheRest(std::vector<char>& buffer) {
        const auto how = static_cast<Delivery>(delivery.load());
        const int flags = ::fcntl(input, F_GETFL);
        if (how == Delivery::kNone || flags < 0 ||
            ::fcntl(input, F_SETFL, flags | O_NONBLOCK) != 0) {
            return;
        }
        const int capacity = ::fcntl(input, F_GETPIPE_SZ);
        size_t left = capacity > 0 ? static_cast<size_t>(capacity) : kPiece;
        while (left > 0) {
            const ssize_t received = ::read(input, buffer.data(), std::min(buffer.size(), left));
            if (received < 0 && errno == EINTR) {
                continue;
            }
            if (received <= 0 || !writePiece(buffer.data(), static_cast<size_t>(received),
                                             how == Delivery::kWithoutWaiting)) {
                return;
            }
            left -= static_cast<size_t>(received);
        }
    }
};

OutputRelay::OutputRelay(IfxChildProcess& child)
    : m_child(child), m_shared(std::make_shared<Shared>()) {}

OutputRelay::~OutputRelay() {
    if (m_started && !m_shared->done) {
        Finish(Delivery::kNone);
    }
}

bool OutputRelay::Start() {
    Shared& s = *m_shared;
    s.input = ::fcntl(m_child.m_phpipecw[0], F_DUPFD_CLOEXEC, 3);
    if (s.input < 0 || ::pipe2(s.stop, O_CLOEXEC | O_NONBLOCK) != 0 ||
        ::pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        Complain("cannot set up the copying of the output: " + ErrorText(errno));
        return false;
    }
    try {
        std::thread([shared = m_shared] { relay(shared); }).detach();
    } catch (const std::system_error& error) {
        Complain("cannot start the output thread: " + ErrorText(error.code().value()));
        return false;
    }
    m_started = true;
    return true;
}

int OutputRelay::WakeDescriptor() const {
    return m_shared->wake[0];
}

void OutputRelay::Acknowledge() {
    char bytes[64];
    while (::read(m_shared->wake[0], bytes, sizeof bytes) > 0) {
    }
}

int OutputRelay::Refusal() const {
    return m_shared->refusal;
}

int OutputRelay::ReadFailure() const {
    return m_shared->readFailure;
}

void OutputRelay::Finish(Delivery delivery) {
    m_shared->delivery = static_cast<int>(delivery);
    (void)!::write(m_shared->stop[1], "", 1);
}

bool OutputRelay::Done() const {
    return m_shared->done;
}

size_t OutputRelay::Undelivered() const {
    int held = 0;
    if (m_child.m_phpipecw[0] < 0 || ::ioctl(m_child.m_phpipecw[0], FIONREAD, &held) != 0) {
        held = 0;
    }
    return m_shared->pending + static_cast<size_t>(std::max(held, 0));
}

void OutputRelay::relay(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    std::vector<char> buffer(kPiece);
    bool outputEnded = false;
    for (;;) {
        struct pollfd watched[2] = {{s.stop[0], POLLIN, 0}, {s.input, POLLIN, 0}};
        const int ready = ::poll(watched, outputEnded ? 1 : 2, -1);
        if (ready < 0 && errno != EINTR) {
            s.readFailure = errno;
            s.end();
            return;
        }
        if (ready <= 0) {
            continue;
        }
        if (watched[0].revents != 0) {
            if (!outputEnded) {
                s.copyTheRest(buffer);
            }
            s.end();
            return;
        }
        if (watched[1].revents == 0) {
            continue;
        }
        const ssize_t received = ::read(s.input, buffer.data(), buffer.size());
        if (received < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (received < 0) {
            s.readFailure = errno;
            s.end();
            return;
        }
        if (received == 0) {
            // Every writer closed it; the end of the utility is still to come.
            outputEnded = true;
            continue;
        }
        if (!s.writePiece(buffer.data(), static_cast<size_t>(received), false)) {
            s.end();
            return;
        }
    }
}

}  // namespace ifxctl
