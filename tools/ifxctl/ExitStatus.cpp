#include "ExitStatus.h"

#include <JxLib/JxThread.h>
#include <string.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>

#include "Output.h"

namespace ifxctl {

namespace {

const char* launchStep(int status) {
    switch (status) {
        case 77:
            return "the launch could not connect the utility's standard streams to the pipes";
        case 79:
            return "the launch could not execute the program";
        case 81:
            return "the launch could not look up or switch to the user";
        case 83:
            return "the launch could not set the utility's environment";
        default:
            return nullptr;
    }
}

}  // namespace

bool IsLaunchCode(int status) {
    return launchStep(status) != nullptr;
}

Outcome ReapDirectChild(pid_t pid, SignalForwarder& forwarder) {
    siginfo_t ended{};
    int waited;
    do {
        waited = ::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT);
    } while (waited < 0 && errno == EINTR);
    forwarder.Stop();
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &raw, 0);
    } while (result < 0 && errno == EINTR);
    if (result != pid) {
        Complain("waiting for the utility failed: " + ErrorText(errno));
        return {};
    }
    if (WIFSIGNALED(raw)) {
        return {true, 128 + WTERMSIG(raw), true, true};
    }
    return {true, WEXITSTATUS(raw), true, false};
}

Outcome JoinWaitThread(IfxChildProcess& child) {
    const int joined = child.m_pthread->join();
    if (joined != 0) {
        Complain("cannot join the wait thread: " + ErrorText(joined));
        return {};
    }
    if (child.m_bwaitdone) {
        return {true, 0};
    }
    const auto status = static_cast<int>(child.m_exitcode);
    if (child.m_bwaitfailed && status != 0) {
        return {true, status};
    }
    Complain("the wait for the utility gave no status");
    return {};
}

Outcome WaitHere(IfxChildProcess& child) {
    const int status = child.Wait(0);
    if (status < 0) {
        Complain("the wait for the utility gave no status: " +
                 ErrorText(static_cast<int>(child.m_lasterror)));
        return {};
    }
    return {true, status};
}

std::string DescribeStatus(const Outcome& outcome, const std::string& failure, bool logAvailable) {
    const int status = outcome.status;
    if (status == 0) {
        return "";
    }
    std::string text = "exit status " + std::to_string(status);
    if (const char* step = launchStep(status)) {
        if (!failure.empty()) {
            return text + ": " + step + ": " + failure;
        }
        if (!logAvailable) {
            return text + ": " + step + ", or the utility exited with " + std::to_string(status) +
                   " itself (the library's log has the reason)";
        }
        // No failure logged by the launch's child: the utility's own status.
        return text;
    }
    const int signal = status - 128;
    if (signal > 0 && signal < NSIG && (!outcome.signalKnown || outcome.bySignal)) {
        const char* name = ::strsignal(signal);
        text += ": ended by signal " + std::to_string(signal) + " (" +
                (name != nullptr ? name : "unknown") + ")";
        if (!outcome.signalKnown) {
            text += ", unless the utility exited with " + std::to_string(status) + " itself";
        }
    }
    return text;
}

}  // namespace ifxctl
