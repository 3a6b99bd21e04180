#pragma once

#include <sys/wait.h>

// The one place that turns a waitpid status into the status we report: the exit code
// when the process exited, 128 plus the signal number when a signal ended it.
inline int JxExitStatusFromWait(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    if (WIFSIGNALED(raw)) {
        return 128 + WTERMSIG(raw);
    }
    return raw;
}
