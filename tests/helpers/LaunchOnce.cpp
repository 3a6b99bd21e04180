// Launches one program the way agent code does and ends with the child's status, so that
// a test can run a whole launch in a process set up differently from its own (with fewer
// capabilities, say):
//
//   ifxtest_launch_once Initialize|InitializeLinux <user> <program>
//
// The program's input is closed at once; the helper program then exits 0. Log lines go
// where JX_LOG_FILE says. Exit codes of its own: 100 for bad arguments, 101 when the
// launch failed in the parent.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <sys/wait.h>
#include <cerrno>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        return 100;
    }
    const std::string how = argv[1];
    if (how != "Initialize" && how != "InitializeLinux") {
        return 100;
    }
    EvEvent event;
    IfxChildProcess child;
    const int launched = how == "Initialize"
                             ? child.Initialize(argv[3], nullptr, argv[2], nullptr, nullptr, &event,
                                                false, false, false, nullptr)
                             : child.InitializeLinux(argv[3], nullptr, argv[2], nullptr, nullptr,
                                                     &event, false, false, false, nullptr);
    if (launched != 0) {
        return 101;
    }
    child.Finalize();
    if (how == "InitializeLinux") {
        return child.Wait(0) & 0xff;
    }
    int raw = 0;
    while (::waitpid(child.m_childpid, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}
