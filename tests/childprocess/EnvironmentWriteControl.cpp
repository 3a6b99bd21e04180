#include "childprocess/EnvironmentWriteControl.h"

#include <dlfcn.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

extern char** environ;

namespace {

struct Control {
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    bool writing = false;
    bool released = false;
};

Control& control() {
    static Control instance;
    return instance;
}

using PutenvFunction = int (*)(char*);

PutenvFunction realPutenv() {
    static const auto real = reinterpret_cast<PutenvFunction>(::dlsym(RTLD_NEXT, "putenv"));
    if (real == nullptr) {
        std::abort();
    }
    return real;
}

}  // namespace

namespace ifxtest {

void ArmNextEnvironmentWrite() {
    Control& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.armed = true;
    c.writing = false;
    c.released = false;
}

void WaitForEnvironmentWrite() {
    Control& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    c.changed.wait(lock, [&c] { return c.writing; });
}

void ReleaseEnvironmentWrite() {
    Control& c = control();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        c.released = true;
    }
    c.changed.notify_all();
}

}  // namespace ifxtest

// Found before the C library's definition because the program comes first in the lookup
// order; the library's calls arrive here too.
extern "C" __attribute__((visibility("default"))) int putenv(char* entry) {
    Control& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    if (!c.armed) {
        lock.unlock();
        return realPutenv()(entry);
    }
    c.armed = false;
    static char torn[] = "IFXT_TORN=1";
    static char* tornList[] = {torn, nullptr};
    char** const whole = environ;
    environ = tornList;
    c.writing = true;
    c.changed.notify_all();
    c.changed.wait(lock, [&c] { return c.released; });
    environ = whole;
    lock.unlock();
    return realPutenv()(entry);
}
