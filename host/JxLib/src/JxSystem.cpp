#include <JxLib/JxProcess.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "JxErrorText.h"
#include "JxExitStatus.h"

extern char** environ;

namespace {

void closeDescriptor(int fd) {
    int saved = errno;
    ::close(fd);
    errno = saved;
}

// posix_spawn rather than fork: the caller may be multi-threaded, and the C library's
// spawn does nothing in the child that could wait on a lock another thread held.
int spawnShell(const char* command, int outputFd, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    int result = ::posix_spawn_file_actions_init(&actions);
    if (result != 0) {
        return result;
    }
    result = ::posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    if (result == 0) {
        char shell[] = "/bin/sh";
        char dashC[] = "-c";
        char* const argv[] = {shell, dashC, const_cast<char*>(command), nullptr};
        result = ::posix_spawn(pid, shell, &actions, nullptr, argv, environ);
    }
    ::posix_spawn_file_actions_destroy(&actions);
    return result;
}

int readAll(int fd, std::string* output) {
    char chunk[4096];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            if (output != nullptr) {
                output->append(chunk, static_cast<size_t>(got));
            }
        } else if (got == 0) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
}

}  // namespace

int JxProcess::system(const char* command, std::string* output, std::string* error,
                      int /*reserved*/, bool /*option*/) {
    if (command == nullptr) {
        JxSetErrorText(error, "no command", EINVAL);
        errno = EINVAL;
        return -1;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        JxSetErrorText(error, "pipe failed", errno);
        return -1;
    }
    pid_t pid = 0;
    int spawnError = spawnShell(command, pipeFds[1], &pid);
    closeDescriptor(pipeFds[1]);
    if (spawnError != 0) {
        closeDescriptor(pipeFds[0]);
        JxSetErrorText(error, "cannot start /bin/sh", spawnError);
        errno = spawnError;
        return -1;
    }
    int readError = readAll(pipeFds[0], output);
    closeDescriptor(pipeFds[0]);
    int raw = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &raw, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        JxSetErrorText(error, "waitpid failed", errno);
        return -1;
    }
    if (readError != 0) {
        JxSetErrorText(error, "reading the command's output failed", readError);
        errno = readError;
        return -1;
    }
    return JxExitStatusFromWait(raw);
}
