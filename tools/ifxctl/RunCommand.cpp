// run: one utility launched the way the agent launches it, fed its input, its output
// streamed as it arrives, bounded in time, and its exit status reported. The parts live
// beside this file: Launch (checks and launch), InputPump, OutputRelay, UtilityEnd,
// ExitStatus, StopRequests.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <optional>
#include <string>

#include "Commands.h"
#include "ExitStatus.h"
#include "InputPump.h"
#include "Launch.h"
#include "Output.h"
#include "OutputRelay.h"
#include "StopRequests.h"
#include "UtilityEnd.h"

namespace ifxctl {

namespace {

using Clock = std::chrono::steady_clock;

// The signals ifxctl sends the utility: stop requests passed on, the time limit's signal,
// and SIGKILL --kill-after past the first of them, as timeout(1) sends them. Each goes at
// once from the loop, before any message: standard error may be the very terminal that
// stalls.
class Stopper {
  public:
    Stopper(IfxChildProcess& child, const RunOptions& options)
        : m_child(child), m_options(options) {
        if (options.timeout > 0) {
            m_limitAt = Clock::now() + toDuration(options.timeout);
        }
    }

    // True when the signal went; false when the utility was already reaped (its status
    // will tell) or the library refused, which is told.
    bool Send(int signal) {
        if (m_child.SendSignal(signal) != 0) {
            if (errno != ESRCH) {
                Complain("cannot send signal " + std::to_string(signal) +
                         " to the utility: " + ErrorText(errno));
            }
            return false;
        }
        m_sent = signal;
        // A stopped utility acts on nothing but SIGKILL until it is continued.
        if (signal != SIGKILL && signal != SIGCONT) {
            (void)m_child.SendSignal(SIGCONT);
        }
        if (signal != SIGKILL && m_options.killAfter > 0 && !m_killAt && !m_killed) {
            m_killAt = Clock::now() + toDuration(m_options.killAfter);
        }
        return true;
    }

    // Milliseconds until the next deadline, -1 for none.
    int PollTimeout() const {
        std::optional<Clock::time_point> next = m_limitAt;
        if (m_killAt && (!next || *m_killAt < *next)) {
            next = m_killAt;
        }
        if (!next) {
            return -1;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now()).count();
        // Rounded up, so that poll never wakes just short of the deadline and spins; a
        // deadline beyond poll's range wakes it early, and the loop waits again.
        return static_cast<int>(std::min<long long>(std::max<long long>(left + 1, 0), INT_MAX));
    }

    void OnClock() {
        const Clock::time_point now = Clock::now();
        if (m_limitAt && now >= *m_limitAt) {
            m_limitAt.reset();
            m_timedOut = Send(m_options.signal);
            m_killed = m_timedOut && m_options.signal == SIGKILL;
        }
        if (m_killAt && now >= *m_killAt) {
            m_killAt.reset();
            m_killed = Send(SIGKILL);
        }
    }

    bool TimedOut() const { return m_timedOut; }
    bool Killed() const { return m_killed; }
    // The last signal that went, 0 for none.
    int Sent() const { return m_sent; }

  private:
    static Clock::duration toDuration(double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    IfxChildProcess& m_child;
    const RunOptions& m_options;
    std::optional<Clock::time_point> m_limitAt;
    std::optional<Clock::time_point> m_killAt;
    bool m_timedOut = false;
    bool m_killed = false;
    int m_sent = 0;
};

void passRequestsOn(StopRequests& requests, Stopper& stopper) {
    for (int signal; (signal = requests.Take()) != 0;) {
        stopper.Send(signal);
    }
}

// The conversation with one running utility, on this thread around one poll(), which
// never blocks anywhere else: the output goes its own way, on the relay's thread. Returns
// once the utility has ended; false when it broke off on an error of our own side.
bool Converse(IfxChildProcess& child, const RunOptions& options, const UtilityEnd& end,
              StopRequests& requests, Stopper& stopper, OutputRelay& output) {
    InputPump input(child, options.sends, options.commands);
    bool pipesClosed = false;
    for (;;) {
        if (input.Sending() && input.FinishWhenDone()) {
            continue;
        }
        struct pollfd watched[5] = {};
        int count = 0;
        const int ended = count++;
        watched[ended] = {end.Descriptor(), POLLIN, 0};
        const int stops = count++;
        watched[stops] = {requests.Descriptor(), POLLIN, 0};
        const int relay = count++;
        watched[relay] = {output.WakeDescriptor(), POLLIN, 0};
        int pipe = -1, in = -1;
        if (input.Sending()) {
            pipe = count++;
            watched[pipe] = {input.PipeDescriptor(), input.PipeEvents(), 0};
        }
        if (input.WantsStandardInput()) {
            in = count++;
            watched[in] = {STDIN_FILENO, POLLIN, 0};
        }
        const int ready = ::poll(watched, static_cast<nfds_t>(count), stopper.PollTimeout());
        if (ready < 0 && errno != EINTR) {
            Complain("poll failed: " + ErrorText(errno));
            return false;
        }
        stopper.OnClock();
        if (ready <= 0) {
            continue;
        }
        if (watched[stops].revents != 0) {
            passRequestsOn(requests, stopper);
        }
        if (watched[relay].revents != 0) {
            output.Acknowledge();
            if (output.ReadFailure() != 0) {
                Complain("reading the utility's output failed: " + ErrorText(output.ReadFailure()));
                return false;
            }
            if (output.Refusal() != 0 && !pipesClosed) {
                // A reader that went away is the pipeline's way to end, and the utility's
                // status will tell; any other refusal is worth a word. As in a pipeline:
                // the utility's next write gets SIGPIPE, its next read the end of its input.
                if (output.Refusal() != EPIPE) {
                    Complain("cannot write to standard output: " + ErrorText(output.Refusal()));
                }
                input.Abandon();
                child.Finalize();
                pipesClosed = true;
            }
        }
        if (watched[ended].revents != 0) {
            // The utility is gone: what it said is all in the pipe by now. A process it
            // started may hold the pipe open and write later; that is not waited for.
            input.Abandon();
            return !input.Failed();
        }
        if (pipe >= 0 && watched[pipe].revents != 0 && input.Sending()) {
            input.OnPipe(watched[pipe].revents);
        }
        if (in >= 0 && watched[in].revents != 0 && input.Sending()) {
            input.ReadStandardInput();
        }
        if (input.Failed()) {
            return false;
        }
    }
}

// Standard output takes more now without waiting. A reader that keeps up leaves room; a
// stalled one (a pipe nobody reads, a terminal paused with Ctrl-S) leaves none.
bool standardOutputWritable() {
    struct pollfd out = {STDOUT_FILENO, POLLOUT, 0};
    int ready;
    while ((ready = ::poll(&out, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready == 1 && (out.revents & POLLOUT) != 0;
}

// After the utility's end: the rest of its output goes out as delivery says, and a stop
// request ends the wait for it. Returns the bytes that did not go.
size_t deliver(OutputRelay& output, StopRequests& requests, OutputRelay::Delivery delivery) {
    output.Finish(delivery);
    bool giveUp = delivery == OutputRelay::Delivery::kNone;
    while (!giveUp && !output.Done()) {
        struct pollfd watched[2] = {{output.WakeDescriptor(), POLLIN, 0},
                                    {requests.Descriptor(), POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR) {
            Complain("poll failed: " + ErrorText(errno));
            break;
        }
        if (watched[0].revents != 0) {
            output.Acknowledge();
        }
        if (watched[1].revents != 0) {
            // Nobody left to pass it to: it ends ifxctl's wait for its reader instead.
            while (requests.Take() != 0) {
            }
            giveUp = true;
        }
    }
    // A reader that went away took nothing more, as in any pipeline.
    return output.Refusal() != 0 ? 0 : output.Undelivered();
}

// The library's report of a launch that failed in the utility's process, once it has one.
std::optional<LaunchFailure> launchFailure(const IfxChildProcess& child) {
    int step = 0;
    const int error = child.LaunchError(&step);
    if (error <= 0) {
        return std::nullopt;
    }
    return LaunchFailure{error, step};
}

// The exit status and the words for the end of a utility that was launched.
int finish(const Outcome& outcome, const Stopper& stopper, const RunOptions& options) {
    if (stopper.TimedOut()) {
        const bool killedLater = stopper.Killed() && options.signal != SIGKILL;
        Complain("time limit of " + options.timeoutText + " reached: the utility was sent " +
                 options.signalName +
                 (killedLater ? ", and SIGKILL " + options.killAfterText + " later" : ""));
    } else if (stopper.Killed()) {
        Complain("the utility was still running " + options.killAfterText +
                 " after the signal passed on: it was sent SIGKILL");
    } else {
        StatusContext context;
        context.sentSignal = stopper.Sent();
        const std::string words = DescribeStatus(outcome, context);
        if (!words.empty()) {
            Complain(words);
        }
    }
    if (options.preserveStatus) {
        return outcome.status;
    }
    if (stopper.Killed()) {
        return kExitKilled;
    }
    return stopper.TimedOut() ? kExitTimedOut : outcome.status;
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
    StopRequests requests;
    if (!requests.Installed()) {
        Complain("cannot catch signals to pass on: " + ErrorText(errno));
        return kExitRunFailed;
    }
    // The log variables are read when the event is made.
    EvEvent event;
    IfxChildProcess child;
    if (!Launch(options, runAs, event, child)) {
        return kExitRunFailed;
    }
    if (!options.direct && child.BeginWait() != 0) {
        Complain("cannot start the wait thread: " + ErrorText(child.m_lasterror) +
                 "; waiting in ifxctl instead");
    }
    UtilityEnd end(child);
    if (!end.Start()) {
        child.Finalize();
        (void)child.Stop(0);
        return kExitRunFailed;
    }
    Stopper stopper(child, options);
    OutputRelay output(child);

    std::optional<LaunchFailure> failure = launchFailure(child);
    // A launch known to have failed has nothing to talk to.
    const bool relaying = !failure && output.Start();
    const bool talked =
        failure || (relaying && Converse(child, options, end, requests, stopper, output));
    // When ifxctl has signalled the utility, its reader gets what it takes without
    // waiting, and a stalled one nothing more: what the utility's pipe and the relay still
    // hold is dropped, and counted. Otherwise everything the utility said goes out before
    // ifxctl ends.
    OutputRelay::Delivery delivery = OutputRelay::Delivery::kAll;
    if (stopper.Sent() != 0) {
        delivery = standardOutputWritable() ? OutputRelay::Delivery::kWithoutWaiting
                                            : OutputRelay::Delivery::kNone;
    }
    const size_t dropped = relaying ? deliver(output, requests, delivery) : 0;
    // Also ends the utility's input if the conversation broke off before that, and lets
    // a process it left behind see the end of its pipes.
    child.Finalize();
    const Outcome outcome = end.Collect();
    if (!failure) {
        failure = launchFailure(child);
    }
    if (failure) {
        Complain(DescribeLaunchFailure(*failure, runAs.program, runAs.name));
        return LaunchFailureStatus(*failure);
    }
    if (dropped > 0) {
        Complain(std::to_string(dropped) +
                 " bytes of the utility's output were dropped: standard output did not take "
                 "them");
    }
    if (!outcome.known) {
        return kExitRunFailed;
    }
    const int status = finish(outcome, stopper, options);
    return talked ? status : kExitRunFailed;
}

}  // namespace ifxctl
