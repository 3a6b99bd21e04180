// run: one utility launched the way the agent launches it, fed its input, its output
// streamed as it arrives and its exit status reported. The parts live beside this file:
// Launch (checks and launch), InputPump, OutputPump, UtilityEnd, ExitStatus,
// SignalForwarding.

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
#include "UtilityEnd.h"

namespace ifxctl {

namespace {

// The conversation with one running utility, on this thread around one poll(). Returns
// once the utility has ended, with what its pipe held by then copied on; false when it
// broke off on an error of our own side.
bool Converse(IfxChildProcess& child, const RunOptions& options, const UtilityEnd& end) {
    OutputPump output(child);
    if (!output.Ready()) {
        return false;
    }
    InputPump input(child, output, options.sends, options.commands);
    bool pipesClosed = false;
    for (;;) {
        if (output.StandardOutputClosed() && !pipesClosed) {
            // As in a pipeline: the utility's next write gets SIGPIPE, its next read the
            // end of its input.
            input.Abandon();
            output.Close();
            child.Finalize();
            pipesClosed = true;
        }
        if (input.Sending() && input.FinishWhenDone()) {
            continue;
        }
        struct pollfd watched[4] = {};
        int count = 0;
        const int ended = count++;
        watched[ended] = {end.Descriptor(), POLLIN, 0};
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
        if (watched[ended].revents != 0) {
            // The utility is gone: what it said is all in the pipe by now. A process it
            // started may hold the pipe open and write later; that is not waited for.
            output.Drain();
            input.Abandon();
            return !output.Failed() && !input.Failed();
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
        if (output.Failed() || input.Failed()) {
            return false;
        }
    }
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
    if (!SetUserEnvironment(options, runAs)) {
        Complain("cannot set the utility's environment: " + ErrorText(errno));
        return kExitRunFailed;
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
    UtilityEnd::Waiter waiter = UtilityEnd::Waiter::kDirect;
    if (!options.direct) {
        waiter = UtilityEnd::Waiter::kWaitThread;
        if (child.BeginWait() != 0) {
            Complain("cannot start the wait thread: " + ErrorText(child.m_lasterror) +
                     "; waiting on a thread of ifxctl's instead");
            waiter = UtilityEnd::Waiter::kHere;
        }
    }
    UtilityEnd end(child, waiter);
    if (!end.Start()) {
        child.Finalize();
        return kExitRunFailed;
    }

    const bool talked = Converse(child, options, end);
    // Also ends the utility's input if the conversation broke off before that, and lets
    // a process it left behind see the end of its pipes.
    child.Finalize();
    const Outcome outcome = end.Collect(forwarder);
    if (!outcome.known) {
        return kExitRunFailed;
    }
    StatusContext context;
    context.forwardedSignal = forwarder.LastForwarded();
    const std::string log = logFile();
    if (!log.empty() && IsLaunchCode(outcome.status)) {
        context.launchFailure = LoggedLaunchFailure(log, child.m_childpid);
    }
    const std::string words = DescribeStatus(outcome, context);
    if (!words.empty()) {
        Complain(words);
    }
    return talked ? outcome.status : kExitRunFailed;
}

}  // namespace ifxctl
