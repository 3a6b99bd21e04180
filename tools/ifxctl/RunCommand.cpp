// run: one utility launched the way the agent launches it, fed its input, its output
// streamed as it arrives and its exit status reported. The parts live beside this file:
// Launch (checks and launch), InputPump, OutputPump, ExitStatus, SignalForwarding.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "Commands.h"
#include "ExitStatus.h"
#include "InputPump.h"
#include "Launch.h"
#include "LibraryLog.h"
#include "Output.h"
#include "OutputPump.h"
#include "SignalForwarding.h"

namespace ifxctl {

namespace {

// The conversation with one running utility, on this thread around one poll() (but for
// the writing of a long command in command mode). Returns once the utility's output has
// ended and nothing more can be sent to it; false when it broke off on an error of our
// own side.
bool Converse(IfxChildProcess& child, const RunOptions& options) {
    OutputPump output(child);
    if (!output.Ready()) {
        return false;
    }
    InputPump input(child, output, options.sends, options.commands);
    while ((output.Open() || input.Sending()) && !output.Failed() && !input.Failed()) {
        if (input.FinishWhenDone()) {
            continue;
        }
        struct pollfd watched[3] = {};
        int count = 0;
        int out = -1, pipe = -1, in = -1;
        if (output.Open()) {
            out = count++;
            watched[out] = {output.Descriptor(), POLLIN, 0};
        }
        if (input.Sending()) {
            pipe = count++;
            watched[pipe] = {input.PipeDescriptor(), input.PipeEvents(), 0};
        }
        if (input.WantsStandardInput()) {
            in = count++;
            watched[in] = {STDIN_FILENO, POLLIN, 0};
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
        if (out >= 0 && watched[out].revents != 0) {
            output.Read(watched[out].revents);
        }
        if (pipe >= 0 && watched[pipe].revents != 0 && input.Sending()) {
            input.OnPipe(watched[pipe].revents);
        }
        if (in >= 0 && watched[in].revents != 0 && input.Sending()) {
            input.ReadStandardInput();
        }
    }
    return !output.Failed() && !input.Failed();
}

// The file the library logs to, when there is one to read the launch's reasons from.
std::string logFile() {
    const char* path = std::getenv("JX_LOG_FILE");
    return path != nullptr ? path : "";
}

}  // namespace

int Run(const RunOptions& options) {
    RunAs runAs;
    if (const std::optional<int> failed = CheckBeforeLaunch(options, runAs)) {
        return *failed;
    }
    // Caught before the launch: a stop request that comes while the utility starts waits
    // for it instead of ending us and leaving it behind.
    SignalForwarder forwarder;
    if (!forwarder.Installed()) {
        Complain("cannot catch signals to pass on: " + ErrorText(errno));
        return kExitRunFailed;
    }
    // The log variables are read when the event is made.
    EvEvent event;
    IfxChildProcess child;
    if (!Launch(options, runAs, event, child)) {
        return kExitRunFailed;
    }
    forwarder.ForwardTo(child.m_childpid);
    bool waitThread = false;
    if (!options.direct) {
        waitThread = child.BeginWait() == 0;
        if (!waitThread) {
            Complain("cannot start the wait thread: " + ErrorText(child.m_lasterror) +
                     "; waiting in this thread instead");
        }
    }

    const bool talked = Converse(child, options);
    // Also ends the utility's input if the conversation broke off before that.
    child.Finalize();
    Outcome outcome;
    if (options.direct) {
        outcome = ReapDirectChild(child.m_childpid, forwarder);
    } else {
        outcome = waitThread ? JoinWaitThread(child) : WaitHere(child);
        forwarder.Stop();
    }
    if (!outcome.known) {
        return kExitRunFailed;
    }
    const std::string log = logFile();
    const std::string failure = !log.empty() && IsLaunchCode(outcome.status)
                                    ? LoggedLaunchFailure(log, child.m_childpid)
                                    : "";
    const std::string words = DescribeStatus(outcome, failure, !log.empty());
    if (!words.empty()) {
        Complain(words);
    }
    return talked ? outcome.status : kExitRunFailed;
}

}  // namespace ifxctl
