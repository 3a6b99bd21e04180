#include "ExitStatus.h"

#include <string.h>

#include <csignal>

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
        default:
            return nullptr;
    }
}

std::string signalWords(int signal) {
    const char* name = ::strsignal(signal);
    return "ended by signal " + std::to_string(signal) + " (" +
           (name != nullptr ? name : "unknown") + ")";
}

}  // namespace

bool IsLaunchCode(int status) {
    return launchStep(status) != nullptr;
}

std::string DescribeStatus(const Outcome& outcome, const StatusContext& context) {
    const int status = outcome.status;
    if (const char* step = launchStep(status); step != nullptr && !context.launchFailure.empty()) {
        return std::string(step) + ": " + context.launchFailure;
    }
    const int signal = status - 128;
    // SIGPIPE comes only once ifxctl closed the utility's pipes after its own standard
    // output went away: a pipeline's ordinary end.
    if (signal <= 0 || signal >= NSIG || signal == SIGPIPE) {
        return "";
    }
    // Without the launch's own waitpid only a signal that ifxctl passed on tells a death
    // by signal from an exit code above 128.
    const bool known = outcome.signalKnown ? outcome.bySignal : signal == context.forwardedSignal;
    return known ? signalWords(signal) : "";
}

}  // namespace ifxctl
