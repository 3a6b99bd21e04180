// The direct launch: fork and exec in the caller, no process-service object, so the
// caller reaps the child itself.
//
//   direct_launch UTILITY
//
// UTILITY as for launch_and_talk. No user is named: the child keeps ours.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s UTILITY\n", argv[0]);
        return 2;
    }
    std::string path = argv[1];
    EvEvent event;
    IfxChildProcess child;
    // A null argv gives the program its own path as its only argument; a null user keeps
    // the caller's user.
    if (child.Initialize(path.data(), nullptr, nullptr, nullptr, nullptr, &event,
                         /*option1=*/false, /*nonBlocking=*/false, /*option3=*/false,
                         /*reserved=*/nullptr) != 0) {
        std::fprintf(stderr, "launch failed: errno %d\n", static_cast<int>(child.m_lasterror));
        return 1;
    }
    std::string command = "status";
    std::string quit = "exit 5";
    if (child.WriteBuf(command.data()) != 0 || child.WriteBuf(quit.data()) != 0) {
        std::fprintf(stderr, "write failed: errno %d\n", static_cast<int>(child.m_lasterror));
    }
    std::string output;
    char buffer[4096];
    while (child.ReadBuf(buffer, sizeof buffer - 1) == 0) {
        output += buffer;
    }
    child.Finalize();

    // Wait and BeginWait have no process object to ask after Initialize: -1 at once.
    const int noStatus = child.Wait(0);
    int raw = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(child.m_childpid, &raw, 0);
    } while (reaped < 0 && errno == EINTR);
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);

    std::printf("%sWait %d, waitpid status %d\n", output.c_str(), noStatus, status);
    return reaped == child.m_childpid && noStatus == -1 && status == 5 ? 0 : 1;
}
