#pragma once

// run: the utility's output on its way to our standard output, written by a thread of its
// own so that a reader that stalls (a paused terminal, a pager left open, a pipe nobody
// reads) stalls that thread alone, never the poll loop that keeps the time limit and
// passes signals on. Standard output keeps its flags: O_NONBLOCK would live on a file
// description shared with the shell and other processes, and stay if ifxctl were killed.
//
// Between the two lies a ring of kCapacity bytes: the loop reads the utility's output
// straight into its free part, the thread writes from its filled part, each as much as
// there is, so that a fast reader costs a write per read and a slow one gets large
// writes. Once it is (nearly) full the loop stops reading the utility's output, and the
// utility waits for a slow reader as it would in a pipeline.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ifxctl {

class StandardOutputWriter {
  public:
    // The most that waits for the reader in the ring.
    static constexpr size_t kCapacity = size_t{256} * 1024;

    StandardOutputWriter();
    // Lets the thread end once it has written what it holds; a thread stuck in a write to
    // a reader that never reads ends with the process.
    ~StandardOutputWriter();
    StandardOutputWriter(const StandardOutputWriter&) = delete;
    StandardOutputWriter& operator=(const StandardOutputWriter&) = delete;

    // False, with the reason told, when the thread or its wake-up pipe cannot be made.
    bool Start();

    // Readable when the loop has something to learn: room again after Space found too
    // little, a refusal, or the end of the writing after Finish. Read with Acknowledge.
    int WakeDescriptor() const;
    void Acknowledge();

    // Where the loop may put the next bytes, and how many fit there; none while the ring
    // is nearly full (the wake-up then says when to ask again) or after a refusal.
    struct Space {
        char* at = nullptr;
        size_t size = 0;
    };
    Space FreeSpace();
    // The first count bytes of the last FreeSpace are to be written.
    void Commit(size_t count);
    // Bytes to write after the ring, once it is empty: the rest of the utility's pipe at
    // its end, which the ring's bound does not hold back.
    void AddLast(std::string bytes);

    // From now on the thread writes only what standard output takes without waiting:
    // before each write of at most PIPE_BUF bytes it checks that standard output is
    // writable, and stops for good once it is not (Done then, what is left undelivered).
    // For the end of a utility that ifxctl signalled, which waits for no stalled reader.
    void WriteOnlyWithoutWaiting();

    // Standard output refused a write: its errno, else 0. Nothing more is written then.
    int Refusal();
    // Nothing more comes; the thread ends once everything is written.
    void Finish();
    // Everything was written (after Finish), or standard output refused it.
    bool Done();
    // Bytes held but not yet taken by standard output.
    size_t Undelivered();

  private:
    struct Shared;
    static void writeAll(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> m_shared;
    bool m_started = false;
};

}  // namespace ifxctl
