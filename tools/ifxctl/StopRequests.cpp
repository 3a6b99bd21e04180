#include "StopRequests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace ifxctl {

namespace {

constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP};

// The self-pipe: the handler writes one byte per request, the poll loop reads them. Made
// once and never closed, so that a handler running late never writes into a descriptor
// number that has since been reused.
int g_requests[2] = {-1, -1};
void onStopRequest(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe drops the request: hundreds are already waiting to be sent.
    (void)!::write(g_requests[1], &byte, 1);
    errno = saved;
}

bool makeRequestPipe() {
    if (g_requests[0] >= 0) {
        return true;
    }
    if (::pipe2(g_requests, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    return true;
}

}  // namespace

StopRequests::StopRequests() {
    if (!makeRequestPipe()) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onStopRequest;
    // Restarted: the library's pipe calls must not see EINTR for a request.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : kForwarded) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            return;
        }
    }
    m_installed = true;
}

int StopRequests::Descriptor() const {
    return g_requests[0];
}

int StopRequests::Take() {
    unsigned char signal = 0;
    ssize_t received;
    do {
        received = ::read(g_requests[0], &signal, 1);
    } while (received < 0 && errno == EINTR);
    return received == 1 ? signal : 0;
}

}  // namespace ifxctl
