#pragma once

// The tests a booted system image runs, as CTest knows them. The image has no CTest: the
// build machine turns `ctest --show-only=json-v1` into a list file
// (scripts/ppc64-system/test-list.cmake), one field per line:
//
//   base NAME=VALUE        environment of every test (before the tests)
//   test <name>            starts a test; the fields below belong to it
//   dir <path>             its working directory
//   timeout <seconds>      0 for none
//   serial                 runs alone (RUN_SERIAL)
//   will-fail              passes when the program fails (WILL_FAIL)
//   skip-code <n>          this exit code means skipped (SKIP_RETURN_CODE)
//   skip-regex <regex>     output matching it means skipped (SKIP_REGULAR_EXPRESSION)
//   env NAME=VALUE         its own environment, over the base
//   arg <word>             the command, program first, one word a line

#include <string>
#include <vector>

namespace ifxsystem {

struct TestCase {
    std::string name;
    std::string dir = "/";
    std::vector<std::string> args;
    std::vector<std::string> env;  // NAME=VALUE, applied over the base environment
    long timeoutSeconds = 0;
    bool serial = false;
    bool willFail = false;
    int skipCode = -1;
    std::vector<std::string> skipRegexes;
};

struct TestList {
    std::vector<std::string> baseEnv;
    std::vector<TestCase> tests;
};

// Reads the list at path. Returns false with a message in error for a file that cannot
// be read or a line that is none of the fields above.
bool ReadTestList(const std::string& path, TestList* list, std::string* error);

}  // namespace ifxsystem
