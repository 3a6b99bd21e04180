// /init of the system image that runs the tests on a booted target kernel
// (scripts/run-ppc64-system.sh). As process 1 it mounts what the tests use, starts the
// test runner as a child, reaps every process that ends up as its child, and powers the
// machine off once the runner is done.
//
// The tests never run as process 1 itself: the kernel drops signals with a default
// action that are sent to init, so a test that expects to be ended by one would hang, and
// an abort of init panics the kernel.
//
// Arguments: the test list and the number of tests to run at a time (default: one per
// processor).

#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "TestList.h"
#include "TestRunner.h"

namespace {

const char kDefaultList[] = "/ifxtest/tests.list";
const char kOutputDir[] = "/ifxtest/output";

void say(const std::string& line) {
    const std::string text = line + "\n";
    (void)!::write(STDOUT_FILENO, text.data(), text.size());
}

void mountOrSay(const char* source, const char* target, const char* type, const char* data) {
    ::mkdir(target, 0755);
    if (::mount(source, target, type, MS_NOSUID, data) != 0) {
        say(std::string("ifxtest: cannot mount ") + type + " on " + target + ": " +
            std::strerror(errno));
    }
}

// Seconds since the kernel started, as /proc/uptime has them.
std::string uptime() {
    std::ifstream file("/proc/uptime");
    std::string seconds;
    file >> seconds;
    return seconds;
}

int runTests(const char* listPath, int jobs) {
    struct utsname system {};
    ::uname(&system);
    say(std::string("ifxtest: kernel ") + system.sysname + " " + system.release + " " +
        system.machine + ", up " + uptime() + " s");
    ifxsystem::TestList list;
    std::string error;
    if (!ifxsystem::ReadTestList(listPath, &list, &error)) {
        say("ifxtest: " + error);
        return 2;
    }
    ::mkdir(kOutputDir, 0700);
    const std::string started = uptime();
    const int failed = ifxsystem::RunTests(list, jobs, kOutputDir);
    say("ifxtest: tests ran from " + started + " s to " + uptime() + " s of uptime");
    return failed == 0 ? 0 : 1;
}

// Reaps children until the runner has ended; returns the runner's wait status.
int reapUntil(pid_t runner) {
    for (;;) {
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid == runner) {
            return status;
        }
        if (pid < 0 && errno != EINTR) {
            return -1;
        }
    }
}

void endEveryOtherProcess() {
    ::kill(-1, SIGKILL);
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* listPath = argc > 1 ? argv[1] : kDefaultList;
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    const int jobs =
        argc > 2 ? std::atoi(argv[2]) : static_cast<int>(processors > 0 ? processors : 1);

    mountOrSay("proc", "/proc", "proc", nullptr);
    mountOrSay("sysfs", "/sys", "sysfs", nullptr);
    mountOrSay("devtmpfs", "/dev", "devtmpfs", nullptr);
    mountOrSay("tmpfs", "/tmp", "tmpfs", "mode=1777");
    mountOrSay("tmpfs", "/dev/shm", "tmpfs", "mode=1777");

    const pid_t runner = ::fork();
    if (runner == 0) {
        ::setsid();
        ::_exit(runTests(listPath, jobs));
    }
    if (runner < 0) {
        say(std::string("ifxtest: cannot start the runner: ") + std::strerror(errno));
    } else {
        const int status = reapUntil(runner);
        if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) {
            say("ifxtest: the runner did not finish (wait status " + std::to_string(status) + ")");
        }
    }
    endEveryOtherProcess();
    ::sync();
    ::reboot(RB_POWER_OFF);
    say(std::string("ifxtest: power off failed: ") + std::strerror(errno));
    return 1;
}
