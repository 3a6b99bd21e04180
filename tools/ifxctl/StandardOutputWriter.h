#pragma once

// run: the utility's output on its way to our standard output, written by a thread of its
// own so that a reader that stalls (a paused terminal, a pager left open, a pipe nobody
// reads) stalls that thread alone, never the poll loop that keeps the time limit and
// passes signals on. Standard output keeps its flags: O_NONBLOCK would live on a file
// description shared with the shell and other processes, and stay if ifxctl were killed.
//
// The buffer between the two is bounded: once it is full the loop stops reading the
// utility's output, so that the utility waits for a slow reader as it would in a pipeline.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace ifxctl {

class StandardOutputWriter {
  public:
    // The most that waits for the reader: kChunks pieces of kChunkSize bytes.
    static constexpr size_t kChunkSize = size_t{64} * 1024;
    static constexpr size_t kChunks = 4;

    StandardOutputWriter();
    // Lets the thread end once it has written what is queued; a thread stuck in a write
    // to a reader that never reads ends with the process.
    ~StandardOutputWriter();
    StandardOutputWriter(const StandardOutputWriter&) = delete;
    StandardOutputWriter& operator=(const StandardOutputWriter&) = delete;

    // False, with the reason told, when the thread or its wake-up pipe cannot be made.
    bool Start();

    // Readable when the loop has something to learn: room again after HasRoom said no, a
    // refusal, or the end of the writing after Finish. Read with Acknowledge.
    int WakeDescriptor() const;
    void Acknowledge();

    // Another piece may be queued now. When not, the next wake-up says when.
    bool HasRoom();
    // An empty piece of kChunkSize bytes to fill, then to queue with its length.
    std::vector<char> TakePiece();
    void Queue(std::vector<char> piece, size_t length);

    // Standard output refused a write: its errno, else 0. Nothing more is written then.
    int Refusal();
    // Nothing more comes; the thread ends once the queue is written.
    void Finish();
    // Everything queued was written (after Finish), or standard output refused it.
    bool Done();
    // Bytes queued but not yet taken by standard output.
    size_t Undelivered();

  private:
    struct Shared;
    static void writeAll(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> m_shared;
    bool m_started = false;
};

}  // namespace ifxctl
