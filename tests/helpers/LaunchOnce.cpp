// Launches one program the way agent code does and ends with the child's status, so that
// a test can run a whole launch in a process set up differently from its own (with fewer
// capabilities, say):
//
//   ifxtest_launch_once Initialize|InitializeLinux <user> <program> [<mode>]
//
// The program's input is closed at once; the helper program then exits 0. Log lines go
// where JX_LOG_FILE says. Exit codes of its own: 100 for bad arguments, 101 when the
// launch failed in the parent.
//
// With --launch-error the program's end is followed by one line on our standard output,
// "<errno> <step>", LaunchError's answer (step 0 when it has none).
//
// With --stop-with-launcher the program (the tests' child helper) is launched with
// kStopWithLauncher and told to print its process id and hold; its two lines ("<pid>",
// then "holding", after which it writes nothing more) are copied to our standard output,
// and we wait for the program, which only a signal ends.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <string>

namespace {

// Copies the program's first lines of output to ours.
void copyLines(IfxChildProcess& child, int lines) {
    std::string line;
    char byte = 0;
    while (lines > 0) {
        if (child.ReadBytes(&byte, 1) <= 0) {
            return;
        }
        line += byte;
        lines -= byte == '\n' ? 1 : 0;
    }
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line.data(), line.size());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 5 ? argv[4] : "";
    const bool stopWithLauncher = mode == "--stop-with-launcher";
    const bool reportLaunchError = mode == "--launch-error";
    if (argc != 4 && !stopWithLauncher && !reportLaunchError) {
        return 100;
    }
    const std::string how = argv[1];
    if (how != "Initialize" && how != "InitializeLinux") {
        return 100;
    }
    EvEvent event;
    IfxChildProcess child;
    std::string words[] = {argv[3], "--commands", "pid", "hold"};
    char* holding[] = {words[0].data(), words[1].data(), words[2].data(), words[3].data(), nullptr};
    char** programArgv = nullptr;
    if (stopWithLauncher) {
        child.SetLaunchOptions(IfxChildProcess::kStopWithLauncher);
        programArgv = holding;
    }
    const int launched = how == "Initialize"
                             ? child.Initialize(argv[3], programArgv, argv[2], nullptr, nullptr,
                                                &event, false, false, false, nullptr)
                             : child.InitializeLinux(argv[3], programArgv, argv[2], nullptr,
                                                     nullptr, &event, false, false, false, nullptr);
    if (launched != 0) {
        return 101;
    }
    if (stopWithLauncher) {
        // The pipes stay: the program's "holding" must not meet a closed pipe.
        copyLines(child, 2);
        return child.WaitFor(-1) & 0xff;
    }
    child.Finalize();
    if (reportLaunchError) {
        const int status = child.WaitFor(-1);
        int step = 0;
        const int error = child.LaunchError(&step);
        const std::string line = std::to_string(error) + " " + std::to_string(step) + "\n";
        [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line.data(), line.size());
        return status & 0xff;
    }
    if (how == "InitializeLinux") {
        return child.Wait(0) & 0xff;
    }
    int raw = 0;
    while (::waitpid(child.m_childpid, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}
