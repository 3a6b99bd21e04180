#pragma once

// One lock for every reading and writing of the process environment that this library
// does. setenv, unsetenv and putenv may move or free the environment array while another
// thread walks it, and POSIX leaves that undefined; serialising the library's own readers
// and writers makes agent code that changes its environment through the library's shims
// safe beside a launch. Raw setenv, unsetenv or putenv from other threads remain the
// caller's to keep away from a launch.

#include <mutex>

namespace ifxlib {

// Held for the life of the returned object. Not recursive: code that holds it calls no
// function that takes it again.
std::unique_lock<std::mutex> LockEnvironment();

}  // namespace ifxlib
