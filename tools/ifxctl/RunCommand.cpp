// run: one utility launched the way the agent launches it, fed its input, its output
// streamed as it arrives, bounded in time, and its exit status reported. The parts live
// beside this file: Launch (checks and launch), InputPump, OutputPump, UtilityEnd,
// ExitStatus, StopRequests.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <string>

#include "Commands.h"
#include "ExitStatus.h"
#include "InputPump.h"
#include "Launch.h"
#include "Output.h"
#include "OutputPump.h"
#include "StopRequests.h"
#include "UtilityEnd.h"

namespace ifxctl {

namespace {

using Clock = std::chrono::steady_clock;

// The signals ifxctl sends the utility: stop requests passed on, the time limit, and
// SIGKILL --kill-after past the first of them, as timeout(1) sends them.
class Stopper {
  public:
    Stopper(IfxChildProcess& child, const RunOptions& options, bool canSignal)
        : m_child(child), m_options(options), m_canSignal(canSignal) {
        if (options.timeout > 0) {
            m_limitAt = Clock::now() + toDuration(options.timeout);
        }
    }

    void Send(int signal) {
        if (!m_canSignal) {
            if (!m_told) {
                Complain("cannot pass signals on: the kernel gives no process descriptor");
                m_told = true;
            }
            return;
        }
        // ESRCH: it has ended and was reaped; nothing was sent, and its status will tell.
        if (m_child.SendSignal(signal) != 0 && errno != ESRCH) {
            Complain("cannot send signal " + std::to_string(signal) +
                     " to the utility: " + ErrorText(errno));
            return;
        }
        m_sent = signal;
        if (signal != SIGKILL && m_options.killAfter > 0 && !m_killAt && !m_killed) {
            m_killAt = Clock::now() + toDuration(m_options.killAfter);
        }
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
        // Rounded up, so that poll never wakes just short of the deadline and spins.
        return static_cast<int>(std::max<long long>(left + 1, 0));
    }

    void OnClock() {
        const Clock::time_point now = Clock::now();
        if (m_limitAt && now >= *m_limitAt) {
            m_limitAt.reset();
            m_timedOut = true;
            Send(SIGTERM);
        }
        if (m_killAt && now >= *m_killAt) {
            m_killAt.reset();
            m_killed = true;
            Send(SIGKILL);
        }
    }

    bool TimedOut() const { return m_timedOut; }
    bool Killed() const { return m_killed; }
    int Sent() const { return m_sent; }

  private:
    static Clock::duration toDuration(double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    IfxChildProcess& m_child;
    const RunOptions& m_options;
    const bool m_canSignal;
    std::optional<Clock::time_point> m_limitAt;
    std::optional<Clock::time_point> m_killAt;
    bool m_timedOut = false;
    bool m_killed = false;
    bool m_told = false;
    int m_sent = 0;
};

// The conversation with one running utility, on this thread around one poll(). Returns
// once the utility has ended, with what its pipe held by then copied on; false when it
// broke off on an error of our own side.
bool Converse(IfxChildProcess& child, const RunOptions& options, const UtilityEnd& end,
              StopRequests& requests, Stopper& stopper) {
    OutputPump output(child);
    if (!output.Ready()) {
        return false;
    }
    InputPump input(child, options.sends, options.commands);
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
        struct pollfd watched[5] = {};
        int count = 0;
        const int ended = count++;
        watched[ended] = {end.Descriptor(), POLLIN, 0};
        const int stops = count++;
        watched[stops] = {requests.Descriptor(), POLLIN, 0};
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
            for (int signal; (signal = requests.Take()) != 0;) {
                stopper.Send(signal);
            }
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
            output.Read();
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
        Complain("time limit of " + options.timeoutText + " reached: the utility was sent SIGTERM" +
                 (stopper.Killed() ? ", and SIGKILL " + options.killAfterText + " later" : ""));
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
    // for it instead of ending us and leaving it behind. In a process group of its own
    // the utility no longer gets the terminal's signals itself: they are passed on.
    StopRequests requests(options.foreground);
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
    UtilityEnd::Waiter waiter = UtilityEnd::Waiter::kDirect;
    if (!options.direct) {
        waiter = UtilityEnd::Waiter::kWaitThread;
        if (child.BeginWait() != 0) {
            Complain("cannot start the wait thread: " + ErrorText(child.m_lasterror) +
                     "; waiting in ifxctl instead");
            waiter = UtilityEnd::Waiter::kHere;
        }
    }
    UtilityEnd end(child, waiter);
    if (!end.Start()) {
        child.Finalize();
        return kExitRunFailed;
    }
    Stopper stopper(child, options, end.CanSignal());

    std::optional<LaunchFailure> failure = launchFailure(child);
    // A launch known to have failed has nothing to talk to.
    const bool talked = failure || Converse(child, options, end, requests, stopper);
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
    if (!outcome.known) {
        return kExitRunFailed;
    }
    const int status = finish(outcome, stopper, options);
    return talked ? status : kExitRunFailed;
}

}  // namespace ifxctl
