#include "StandardOutputWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#include "Output.h"

namespace ifxctl {

namespace {

struct Piece {
    std::vector<char> bytes;  // always kChunkSize long, so that refilling it clears nothing
    size_t length = 0;
};

}  // namespace

// Owned by the object and its thread together: a thread stuck in a write to a reader that
// never reads outlives the object, and whichever lets go last releases the lot.
struct StandardOutputWriter::Shared {
    std::mutex lock;
    std::condition_variable queued;
    std::deque<Piece> pieces;
    std::vector<std::vector<char>> spare;  // pieces written, for reuse
    size_t frontWritten = 0;               // of the first piece
    bool finishing = false;
    bool done = false;
    bool loopWaitsForRoom = false;
    int refusal = 0;
    int wake[2] = {-1, -1};

    ~Shared() {
        for (const int fd : wake) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    // Under the lock. A full pipe already holds a wake-up the loop has not read.
    void wakeLoop() { (void)!::write(wake[1], "", 1); }
};

StandardOutputWriter::StandardOutputWriter() : m_shared(std::make_shared<Shared>()) {}

StandardOutputWriter::~StandardOutputWriter() {
    if (!m_started) {
        return;
    }
    std::unique_lock<std::mutex> hold(m_shared->lock);
    m_shared->finishing = true;
    m_shared->queued.notify_one();
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

bool StandardOutputWriter::HasRoom() {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    const bool room = m_shared->pieces.size() < kChunks && m_shared->refusal == 0;
    m_shared->loopWaitsForRoom = !room;
    return room;
}

std::vector<char> StandardOutputWriter::TakePiece() {
    {
        std::lock_guard<std::mutex> hold(m_shared->lock);
        if (!m_shared->spare.empty()) {
            std::vector<char> piece = std::move(m_shared->spare.back());
            m_shared->spare.pop_back();
            return piece;
        }
    }
    return std::vector<char>(kChunkSize);
}

void StandardOutputWriter::Queue(std::vector<char> piece, size_t length) {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    if (m_shared->refusal != 0 || length == 0) {
        m_shared->spare.push_back(std::move(piece));
        return;
    }
    m_shared->pieces.push_back({std::move(piece), length});
    m_shared->queued.notify_one();
}

int StandardOutputWriter::Refusal() {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    return m_shared->refusal;
}

void StandardOutputWriter::Finish() {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    m_shared->finishing = true;
    m_shared->queued.notify_one();
}

bool StandardOutputWriter::Done() {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    return m_shared->done || m_shared->refusal != 0;
}

size_t StandardOutputWriter::Undelivered() {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    size_t bytes = 0;
    for (const Piece& piece : m_shared->pieces) {
        bytes += piece.length;
    }
    return bytes - m_shared->frontWritten;
}

void StandardOutputWriter::writeAll(const std::shared_ptr<Shared>& shared) {
    std::unique_lock<std::mutex> hold(shared->lock);
    for (;;) {
        shared->queued.wait(hold, [&] { return !shared->pieces.empty() || shared->finishing; });
        if (shared->pieces.empty()) {
            shared->done = true;
            shared->wakeLoop();
            return;
        }
        // The front piece stays queued while it is written, so that it counts as
        // undelivered until standard output has taken it.
        const char* bytes = shared->pieces.front().bytes.data();
        const size_t length = shared->pieces.front().length;
        while (shared->frontWritten < length) {
            const size_t from = shared->frontWritten;
            hold.unlock();
            const ssize_t written = ::write(STDOUT_FILENO, bytes + from, length - from);
            const int error = errno;
            hold.lock();
            if (written < 0 && error == EINTR) {
                continue;
            }
            if (written < 0) {
                shared->refusal = error;
                shared->wakeLoop();
                return;
            }
            shared->frontWritten += static_cast<size_t>(written);
        }
        NoteOutputEnd(bytes[length - 1]);
        shared->frontWritten = 0;
        shared->spare.push_back(std::move(shared->pieces.front().bytes));
        shared->pieces.pop_front();
        if (shared->loopWaitsForRoom) {
            shared->loopWaitsForRoom = false;
            shared->wakeLoop();
        }
    }
}

}  // namespace ifxctl
