#pragma once

// A test that needs a program of the system (a shell, ps) skips where the system has
// none: the minimal system of the target that scripts/run-ppc64-system.sh boots holds our
// own programs and the C and C++ libraries only.

#include <unistd.h>

#define IFXTEST_SKIP_WITHOUT_PROGRAM(path) \
    if (::access((path), X_OK) != 0)       \
    GTEST_SKIP() << "needs " << (path) << ", which this system does not have"
