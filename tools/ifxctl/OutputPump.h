#pragma once

// run: the utility's output, read as it arrives and handed to the writer of our standard
// output, as much as its bounded buffer takes.

#include <IfxLib/IfxLib.h>
#include <sys/types.h>

#include "StandardOutputWriter.h"

namespace ifxctl {

class OutputPump {
  public:
    OutputPump(IfxChildProcess& child, StandardOutputWriter& writer);
    ~OutputPump();
    OutputPump(const OutputPump&) = delete;
    OutputPump& operator=(const OutputPump&) = delete;

    // False, with the reason told, when no descriptor of our own could be made.
    bool Ready() const;
    bool Open() const { return m_open; }
    bool Failed() const { return m_failed; }
    // The output is to be read now: it has not ended and the writer has room for it.
    // When the writer has none, its wake-up says when to ask again.
    bool WantsToRead();
    // Our standard output refused what the utility said (a reader that went away, as
    // head does): nothing more is read, and the utility's pipes are to be closed so that
    // it learns of it as it would in a pipeline. Says why unless the reader went away.
    bool CheckStandardOutput();
    bool StandardOutputClosed() const { return m_outputClosed; }

    // The descriptor to watch for output.
    int Descriptor() const { return m_child.m_phpipecw[0]; }
    // Reads what poll reported on Descriptor() and hands it on.
    void Read();
    // Once the utility has ended: hands on what its pipe already holds, without waiting
    // for the end of the output, which a process the utility started may still hold off.
    // The writer's bound does not apply: the pipe's size bounds it.
    void Drain();
    // Bytes the utility's pipe still holds.
    size_t Unread() const;
    // Stops reading and closes our own descriptor: with the object's pipe ends closed
    // too, the utility's next write gets SIGPIPE.
    void Close();

  private:
    IfxChildProcess& m_child;
    StandardOutputWriter& m_writer;
    int m_own = -1;
    bool m_open = true;           // the utility's output has not ended
    bool m_outputClosed = false;  // our standard output refused a write
    bool m_failed = false;
};

}  // namespace ifxctl
