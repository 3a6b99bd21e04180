#pragma once

// run: our standard input, passed on to the utility's.
//
// By default the bytes go as a pipe would carry them: unchanged, lines with their
// newline, written to the object's write end with write(2); each --send text goes first,
// with a newline added. In command mode (--commands) each line goes without its newline
// as one NUL-terminated command, the bytes WriteBuf would send for it, an empty line
// sending nothing, for utilities that split their input at the NUL. Either way the bytes
// go in as few writes as the pipe takes, never one per line.

#include <IfxLib/IfxLib.h>

#include <deque>
#include <string>
#include <vector>

namespace ifxctl {

class InputPump {
  public:
    InputPump(IfxChildProcess& child, const std::vector<std::string>& sends, bool commands);
    InputPump(const InputPump&) = delete;
    InputPump& operator=(const InputPump&) = delete;

    // The utility's input is still ours to write.
    bool Sending() const { return m_sending; }
    bool Failed() const { return m_failed; }
    // Our standard input is to be watched: more is read only once the last of it went
    // out, so that a utility that reads slowly holds our reading back instead of our
    // memory growing.
    bool WantsStandardInput() const { return m_sending && m_stdinOpen && m_pending.empty(); }
    // The events to watch on the utility's input pipe. Watched even with nothing to
    // send: an error on it says that the utility has closed its input.
    short PipeEvents() const;
    int PipeDescriptor() const { return m_child.m_phpipepw[1]; }

    void OnPipe(short events);
    void ReadStandardInput();
    // Ends the utility's input once everything is sent; true when it did.
    bool FinishWhenDone();
    // Sends nothing more, without a word: the utility has ended, or its pipes are closed.
    void Abandon();

  private:
    void writeBytes();
    void takeLines(const char* data, size_t length);
    void stopSending(const std::string& reason);

    IfxChildProcess& m_child;
    const bool m_commands;
    // Bytes still to go, in pieces (the first one possibly written in part, up to
    // m_written).
    std::deque<std::string> m_pending;
    size_t m_written = 0;
    std::string m_partialLine;  // command mode: a line whose newline is still to come
    bool m_stdinOpen = true;    // our standard input may give more
    bool m_sending = true;
    bool m_failed = false;
};

}  // namespace ifxctl
