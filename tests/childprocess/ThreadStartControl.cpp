#include "childprocess/ThreadStartControl.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace {

using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct Control {
    std::mutex mutex;
    std::condition_variable changed;
    ifxtest::NextThreadStart next = ifxtest::NextThreadStart::kNormal;
    bool finished = false;
    bool reachedHold = false;
    bool released = false;
    pid_t heldThread = 0;
};

Control& control() {
    static Control instance;
    return instance;
}

struct Start {
    void* (*entry)(void*);
    void* argument;
    ifxtest::NextThreadStart mode;
};

void* runSteered(void* raw) {
    const Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    Control& c = control();
    if (start.mode == ifxtest::NextThreadStart::kHoldUntilReleased) {
        std::unique_lock<std::mutex> lock(c.mutex);
        c.heldThread = static_cast<pid_t>(::syscall(SYS_gettid));
        c.reachedHold = true;
        c.changed.notify_all();
        c.changed.wait(lock, [&c] { return c.released; });
    }
    void* result = start.entry(start.argument);
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        c.finished = true;
    }
    c.changed.notify_all();
    return result;
}

CreateFunction realCreate() {
    static const auto real = reinterpret_cast<CreateFunction>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (real == nullptr) {
        std::abort();
    }
    return real;
}

}  // namespace

namespace ifxtest {

void SetNextThreadStart(NextThreadStart mode) {
    Control& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.next = mode;
    c.finished = false;
    c.reachedHold = false;
    c.released = false;
    c.heldThread = 0;
}

pid_t WaitForHeldThread() {
    Control& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    c.changed.wait(lock, [&c] { return c.reachedHold; });
    return c.heldThread;
}

void ReleaseHeldThread() {
    Control& c = control();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        c.released = true;
    }
    c.changed.notify_all();
}

}  // namespace ifxtest

// Found before the C library's (and a sanitizer's) definition because the program comes
// first in the lookup order; the shared libraries' calls arrive here too.
extern "C" __attribute__((visibility("default"))) int pthread_create(
    pthread_t* thread, const pthread_attr_t* attributes, void* (*entry)(void*), void* argument) {
    Control& c = control();
    ifxtest::NextThreadStart mode;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        mode = c.next;
        c.next = ifxtest::NextThreadStart::kNormal;
    }
    if (mode == ifxtest::NextThreadStart::kNormal) {
        return realCreate()(thread, attributes, entry, argument);
    }
    auto* start = new Start{entry, argument, mode};
    const int result = realCreate()(thread, attributes, runSteered, start);
    if (result != 0) {
        delete start;
        return result;
    }
    if (mode == ifxtest::NextThreadStart::kReturnAfterItEnds) {
        std::unique_lock<std::mutex> lock(c.mutex);
        c.changed.wait(lock, [&c] { return c.finished; });
    }
    return 0;
}
