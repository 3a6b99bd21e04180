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

#include <dirent.h>
#include <fcntl.h>
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
#include <vector>

#include "TestList.h"
#include "TestRunner.h"

namespace {

const char kDefaultList[] = "/ifxtest/tests.list";
const char kOutputDir[] = "/ifxtest/output";
const char kImageTmp[] = "/ifxtest/image-tmp";

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

std::vector<std::string> entriesOf(const char* path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path);
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    return names;
}

// A mount point of the same kind as what will be bound onto it.
bool makeMountPoint(const std::string& source, const std::string& target) {
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0) {
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        return ::mkdir(target.c_str(), 0755) == 0;
    }
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

// The tests get a fresh, writable /tmp of their own. A tree checked out under /tmp, whose
// programs and files the image carries at their paths there (the tests name each other by
// absolute paths), would be hidden by it: whatever the image has below /tmp is bound back
// onto the new /tmp, entry by entry, from a bind mount of the image's own /tmp taken first.
void mountTmpKeepingTheImagesEntries() {
    const std::vector<std::string> entries = entriesOf("/tmp");
    if (entries.empty()) {
        mountOrSay("tmpfs", "/tmp", "tmpfs", "mode=1777");
        return;
    }
    ::mkdir(kImageTmp, 0700);
    if (::mount("/tmp", kImageTmp, nullptr, MS_BIND, nullptr) != 0) {
        say(std::string("ifxtest: cannot bind the image's /tmp to ") + kImageTmp + ": " +
            std::strerror(errno) + "; /tmp stays the image's own");
        return;
    }
    mountOrSay("tmpfs", "/tmp", "tmpfs", "mode=1777");
    for (const std::string& name : entries) {
        const std::string source = std::string(kImageTmp) + "/" + name;
        const std::string target = "/tmp/" + name;
        if (!makeMountPoint(source, target) ||
            ::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            say("ifxtest: cannot bind " + source + " back onto " + target + ": " +
                std::strerror(errno));
        }
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
    mountTmpKeepingTheImagesEntries();
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
