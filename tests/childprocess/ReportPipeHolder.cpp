#include "childprocess/ReportPipeHolder.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

using Pipe2Function = int (*)(int*, int);

std::atomic<bool> g_armed{false};
std::atomic<pid_t> g_holder{0};

Pipe2Function realPipe2() {
    static const auto real = reinterpret_cast<Pipe2Function>(::dlsym(RTLD_NEXT, "pipe2"));
    if (real == nullptr) {
        std::abort();
    }
    return real;
}

}  // namespace

namespace ifxtest {

void HoldNextNonBlockingPipe() {
    g_armed = true;
}

pid_t ReleasePipeHolder() {
    g_armed = false;
    const pid_t holder = g_holder.exchange(0);
    if (holder > 0) {
        ::kill(holder, SIGKILL);
        int raw = 0;
        while (::waitpid(holder, &raw, 0) < 0 && errno == EINTR) {
        }
    }
    return holder;
}

}  // namespace ifxtest

extern "C" __attribute__((visibility("default"))) int pipe2(int* ends, int flags) {
    const int result = realPipe2()(ends, flags);
    if (result == 0 && (flags & O_NONBLOCK) != 0 && g_armed.exchange(false)) {
        const pid_t holder = ::fork();
        if (holder == 0) {
            for (;;) {
                ::pause();
            }
        }
        g_holder = holder;
    }
    return result;
}
