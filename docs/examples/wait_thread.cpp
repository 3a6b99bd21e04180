// The wait thread and non-blocking reads: the agent keeps its own thread free while the
// library waits for the utility, and learns of its end from the object's flags.
//
//   wait_thread UTILITY
//
// UTILITY as for launch_and_talk; it runs as the user running the example.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <JxLib/JxThread.h>
#include <poll.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s UTILITY\n", argv[0]);
        return 2;
    }
    std::string path = argv[1];
    const struct passwd* self = ::getpwuid(::getuid());
    std::string user = self != nullptr ? self->pw_name : "";

    EvEvent event;
    IfxChildProcess child;
    char* args[] = {path.data(), nullptr};
    const bool nonBlocking = true;
    if (child.InitializeLinux(path.data(), args, user.data(), nullptr, nullptr, &event,
                              /*option1=*/false, nonBlocking, /*option3=*/false,
                              /*reserved=*/nullptr) != 0 ||
        child.BeginWait() != 0) {
        std::fprintf(stderr, "launch failed: errno %d\n", static_cast<int>(child.m_lasterror));
        return 1;
    }
    std::string quit = "exit 3";
    if (child.WriteBuf(quit.data()) != 0) {
        std::fprintf(stderr, "write failed: errno %d\n", static_cast<int>(child.m_lasterror));
    }

    // While the wait thread runs it writes m_lasterror too, so the result of ReadBuf and
    // m_beof decide here, not m_lasterror. poll() instead of a sleep between reads.
    std::string output;
    char buffer[4096];
    for (;;) {
        struct pollfd ready = {child.m_phpipecw[0], POLLIN, 0};
        ::poll(&ready, 1, -1);
        if (child.ReadBuf(buffer, sizeof buffer - 1) == 0) {
            output += buffer;
            continue;
        }
        if (child.m_beof) {
            break;  // the output has ended and the wait thread is done
        }
        if ((ready.revents & POLLHUP) != 0) {
            // The output has ended but the wait thread has not seen the child end yet:
            // wait for the thread itself. The next ReadBuf then reports the end.
            child.m_pthread->join();
        }
    }

    // The wait thread has reported: m_exitcode and the flags no longer change.
    const bool done = child.m_bwaitdone;
    const bool failed = child.m_bwaitfailed;
    const long long status = child.m_exitcode;
    child.Finalize();

    std::printf("%swait done %d, failed %d, exit status %lld\n", output.c_str(), done, failed,
                status);
    return !done && failed && status == 3 ? 0 : 1;
}
