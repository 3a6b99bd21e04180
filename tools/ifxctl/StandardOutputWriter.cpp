#include "StandardOutputWriter.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#include "Output.h"

namespace ifxctl {

namespace {

// Below this much room the loop waits instead of reading a sliver; the thread wakes it
// once half the ring is free.
constexpr size_t kLeastRoom = size_t{16} * 1024;
constexpr size_t kRoomToWake = StandardOutputWriter::kCapacity / 2;

}  // namespace

// Owned by the object and its thread together: a thread stuck in a write to a reader that
// never reads outlives the object, and whichever lets go last releases the lot.
//
// The ring has one producer (the loop) and one consumer (the thread), which share only
// the count of filled bytes: each keeps its own end, and a count that changes under one
// of them only ever gives it more room. The lock is taken only to sleep and to wake.
struct StandardOutputWriter::Shared {
    std::mutex lock;
    std::condition_variable filled;
    std::vector<char> ring = std::vector<char>(kCapacity);
    std::atomic<size_t> used{0};
    size_t first = 0;  // the thread's: the next byte to write
    size_t end = 0;    // the loop's: where the next byte goes
    std::atomic<bool> writerWaits{false};
    std::atomic<bool> loopWaitsForRoom{false};
    std::atomic<int> refusal{0};
    std::atomic<bool> withoutWaiting{false};
    std::atomic<bool> stalled{false};
    // Under the lock.
    std::string last;  // after the ring
    size_t lastWritten = 0;
    bool finishing = false;
    bool done = false;
    int wake[2] = {-1, -1};

    ~Shared() {
        for (const int fd : wake) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    // A full pipe already holds a wake-up the loop has not read.
    void wakeLoop() { (void)!::write(wake[1], "", 1); }

    // Writes what is next. False once standard output refused it, or, when writes must
    // not wait, was not writable.
    bool writeSome(const char* bytes, size_t length, size_t& advance) {
        if (withoutWaiting) {
            // A pipe that polls writable has room for PIPE_BUF bytes at least.
            struct pollfd out = {STDOUT_FILENO, POLLOUT, 0};
            int ready;
            while ((ready = ::poll(&out, 1, 0)) < 0 && errno == EINTR) {
            }
            if (ready != 1 || (out.revents & POLLOUT) == 0) {
                stalled = true;
                std::lock_guard<std::mutex> hold(lock);
                wakeLoop();
                return false;
            }
            length = std::min<size_t>(length, PIPE_BUF);
        }
        const ssize_t written = ::write(STDOUT_FILENO, bytes, length);
        if (written < 0 && errno != EINTR) {
            refusal = errno;
            std::lock_guard<std::mutex> hold(lock);
            wakeLoop();
            return false;
        }
        advance = written > 0 ? static_cast<size_t>(written) : 0;
        if (advance > 0) {
            NoteOutputEnd(bytes[advance - 1]);
        }
        return true;
    }

    // The ring's filled part up to its end; the rest, wrapped, comes next round.
    bool writeFromRing() {
        size_t advance = 0;
        if (!writeSome(ring.data() + first, std::min(used.load(), kCapacity - first), advance)) {
            return false;
        }
        first = (first + advance) % kCapacity;
        const size_t stillUsed = used.fetch_sub(advance) - advance;
        if (kCapacity - stillUsed >= kRoomToWake && loopWaitsForRoom.exchange(false)) {
            std::lock_guard<std::mutex> hold(lock);
            wakeLoop();
        }
        return true;
    }
};

StandardOutputWriter::StandardOutputWriter() : m_shared(std::make_shared<Shared>()) {}

StandardOutputWriter::~StandardOutputWriter() {
    if (m_started) {
        Finish();
    }
}

bool StandardOutputWriter::Start() {
    if (::pipe2(m_shared->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        Complain("cannot create a pipe: " + ErrorText(errno));
        return false;
    }
    try {
        std::thread([shared = m_shared] { writeAll(shared); }).detach();
    } catch (const std::system_error& error) {
        Complain("cannot start the output thread: " + ErrorText(error.code().value()));
        return false;
    }
    m_started = true;
    return true;
}

int StandardOutputWriter::WakeDescriptor() const {
    return m_shared->wake[0];
}

void StandardOutputWriter::Acknowledge() {
    char bytes[64];
    while (::read(m_shared->wake[0], bytes, sizeof bytes) > 0) {
    }
}

StandardOutputWriter::Space StandardOutputWriter::FreeSpace() {
    Shared& s = *m_shared;
    if (s.refusal != 0) {
        return {};
    }
    size_t room = kCapacity - s.used;
    if (room < kLeastRoom) {
        // Said before looking again, so that the thread either sees it or has already
        // made the room this look finds.
        s.loopWaitsForRoom = true;
        room = kCapacity - s.used;
        if (room < kLeastRoom) {
            return {};
        }
    }
    // From the loop's end up to the ring's end, or, when the filled part wraps, up to
    // where it begins.
    return {s.ring.data() + s.end, std::min(room, kCapacity - s.end)};
}

void StandardOutputWriter::Commit(size_t count) {
    if (count == 0) {
        return;
    }
    Shared& s = *m_shared;
    s.end = (s.end + count) % kCapacity;
    s.used += count;
    if (s.writerWaits) {
        std::lock_guard<std::mutex> hold(s.lock);
        s.filled.notify_one();
    }
}

void StandardOutputWriter::AddLast(std::string bytes) {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    m_shared->last += bytes;
}

void StandardOutputWriter::WriteOnlyWithoutWaiting() {
    m_shared->withoutWaiting = true;
}

int StandardOutputWriter::Refusal() {
    return m_shared->refusal;
}

void StandardOutputWriter::Finish() {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    m_shared->finishing = true;
    m_shared->filled.notify_one();
}

bool StandardOutputWriter::Done() {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    return m_shared->done || m_shared->refusal != 0 || m_shared->stalled;
}

size_t StandardOutputWriter::Undelivered() {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    return m_shared->used + m_shared->last.size() - m_shared->lastWritten;
}

void StandardOutputWriter::writeAll(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    for (;;) {
        if (s.used > 0) {
            if (!s.writeFromRing()) {
                return;
            }
            continue;
        }
        std::unique_lock<std::mutex> hold(s.lock);
        // Said before looking again under the lock, so that the loop either sees it and
        // wakes us, or has already filled what this look finds.
        s.writerWaits = true;
        s.filled.wait(hold, [&] { return s.used > 0 || s.finishing; });
        s.writerWaits = false;
        if (s.used > 0) {
            continue;
        }
        if (s.lastWritten < s.last.size()) {
            // The rest after the ring, added before Finish and never changed since.
            const char* bytes = s.last.data() + s.lastWritten;
            const size_t length = s.last.size() - s.lastWritten;
            hold.unlock();
            size_t advance = 0;
            if (!s.writeSome(bytes, length, advance)) {
                return;
            }
            hold.lock();
            s.lastWritten += advance;
            continue;
        }
        s.done = true;
        s.wakeLoop();
        return;
    }
}

}  // namespace ifxctl
