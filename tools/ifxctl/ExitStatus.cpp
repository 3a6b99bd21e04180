#include "ExitStatus.h"

#include <string.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace ifxctl {

namespace {

constexpr int kStepUser = 81;
constexpr int kStepStreams = 77;
constexpr int kExitCannotExecute = 126;
constexpr int kExitNotFound = 127;
constexpr int kExitRunFailed = 125;

std::string signalWords(int signal) {
    const char* name = ::strsignal(signal);
    return "ended by signal " + std::to_string(signal) + " (" +
           (name != nullptr ? name : "unknown") + ")";
}

}  // namespace

int LaunchFailureStatus(const LaunchFailure& failure) {
    if (failure.step == kStepUser || failure.step == kStepStreams) {
        return kExitRunFailed;
    }
    return failure.error == ENOENT || failure.error == ENOTDIR ? kExitNotFound : kExitCannotExecute;
}

std::string DescribeLaunchFailure(const LaunchFailure& failure, const std::string& program,
                                  const std::string& user) {
    const std::string reason = std::strerror(failure.error);
    if (failure.step == kStepUser) {
        // A user that does not exist has no error of its own: the library says ENOENT.
        return failure.error == ENOENT ? "no such user '" + user + "'"
                                       : "cannot switch to user '" + user + "': " + reason;
    }
    if (failure.step == kStepStreams) {
        return "cannot connect the utility's standard streams: " + reason;
    }
    return program + ": " + reason;
}

std::string DescribeStatus(const Outcome& outcome, const StatusContext& context) {
    const int signal = outcome.status - 128;
    // SIGPIPE comes only once ifxctl closed the utility's pipes after its own standard
    // output went away: a pipeline's ordinary end.
    if (signal <= 0 || signal >= NSIG || signal == SIGPIPE) {
        return "";
    }
    // A status above 128 may be the utility's own exit code: only a signal that ifxctl
    // sent tells a death by signal.
    return signal == context.sentSignal ? signalWords(signal) : "";
}

}  // namespace ifxctl
