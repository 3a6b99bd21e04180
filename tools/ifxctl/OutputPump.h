#pragma once

// run: the utility's output, copied to our standard output as it arrives.

#include <IfxLib/IfxLib.h>
#include <sys/types.h>

#include <vector>

namespace ifxctl {

class OutputPump {
  public:
    explicit OutputPump(IfxChildProcess& child);
    ~OutputPump();
    OutputPump(const OutputPump&) = delete;
    OutputPump& operator=(const OutputPump&) = delete;

    // False, with the reason told, when no descriptor of our own could be made.
    bool Ready() const;
    bool Open() const { return m_open; }
    bool Failed() const { return m_failed; }
    // Our standard output refused what the utility said (a reader that went away, as
    // head does): nothing more is read, and the utility's pipes are to be closed so that
    // it learns of it as it would in a pipeline.
    bool StandardOutputClosed() const { return m_outputClosed; }

    // The descriptor to watch for output.
    int Descriptor() const { return m_child.m_phpipecw[0]; }
    // Reads what poll reported on Descriptor() and copies it on.
    void Read();
    // Once the utility has ended: copies on what its pipe already holds, without waiting
    // for the end of the output, which a process the utility started may still hold off.
    void Drain();
    // Stops reading and closes our own descriptor: with the object's pipe ends closed
    // too, the utility's next write gets SIGPIPE.
    void Close();

  private:
    void forward(const char* data, size_t length);

    IfxChildProcess& m_child;
    std::vector<char> m_buffer;
    int m_own = -1;
    bool m_open = true;           // the utility's output has not ended
    bool m_outputClosed = false;  // our standard output refused a write
    bool m_failed = false;
};

}  // namespace ifxctl
