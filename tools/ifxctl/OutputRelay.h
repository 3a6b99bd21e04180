#pragma once

// run: the utility's output copied to our standard output as it arrives, by a thread of
// its own, so that a reader that stalls (a paused terminal, a pager left open, a pipe
// nobody reads) stalls that thread alone, and with it the utility, as in a pipeline,
// never the poll loop that keeps the time limit and passes signals on. The thread reads
// and writes as cat does, a piece of up to 64 KiB at a time; standard output keeps its
// flags: O_NONBLOCK would live on a file description shared with the shell and other
// processes, and stay if ifxctl were killed.
//
// The thread reads through a descriptor of its own for the utility's pipe, never the
// object's, so that the loop may Finalize the object whatever the thread is doing.

#include <IfxLib/IfxLib.h>

#include <cstddef>
#include <memory>

namespace ifxctl {

class OutputRelay {
  public:
    // How the end of the run treats what the utility's pipe still holds.
    enum class Delivery {
        kAll,             // copied, waiting as long as standard output takes to take it
        kWithoutWaiting,  // copied as far as standard output takes it without waiting
        kNone,            // standard output is stalled: nothing more
    };

    explicit OutputRelay(IfxChildProcess& child);
    // Ends the thread once it is free to see it; one stuck in a write to a reader that
    // never reads ends with the process.
    ~OutputRelay();
    OutputRelay(const OutputRelay&) = delete;
    OutputRelay& operator=(const OutputRelay&) = delete;

    // False, with the reason told, when the thread or its descriptors cannot be made.
    bool Start();

    // Readable when the loop has something to learn: a refusal of standard output, a
    // failed read, the end of the copying after Finish. Read with Acknowledge.
    int WakeDescriptor() const;
    void Acknowledge();

    // Standard output refused a write: its errno, else 0. The thread has then closed its
    // descriptor of the utility's pipe: once the object's are closed too, the utility's
    // next write gets SIGPIPE, as in a pipeline.
    int Refusal() const;
    // Reading the utility's output failed: its errno, else 0.
    int ReadFailure() const;

    // Once the utility has ended: the thread copies what the pipe holds by now (no more
    // than its size: a process the utility started may go on writing) as delivery says,
    // then ends.
    void Finish(Delivery delivery);
    // The thread has ended: everything went, or standard output refused or was stalled.
    bool Done() const;
    // Bytes read but not written, and, before Finalize, what the pipe still holds.
    size_t Undelivered() const;

  private:
    struct Shared;
    static void relay(const std::shared_ptr<Shared>& shared);

    IfxChildProcess& m_child;
    std::shared_ptr<Shared> m_shared;
    bool m_started = false;
};

}  // namespace ifxctl
