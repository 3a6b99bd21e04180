#pragma once

// Runs a test list the way CTest would: each test a process of its own in its working
// directory with its environment, standard input from /dev/null, its standard output and
// error gathered into a file, up to `jobs` at a time (a serial test alone), killed with
// its process group at its time-out. Each test's output is printed whole once it ends,
// between a line "ifxtest: start <name>" and its result line, so that parallel tests
// never interleave; the last line is the summary:
//
//   ifxtest summary: <n> tests, <p> passed, <s> skipped, <f> failed

#include <string>

#include "TestList.h"

namespace ifxsystem {

// Runs every test of list; returns the number that failed. Output files go to
// outputDir, which must exist.
int RunTests(const TestList& list, int jobs, const std::string& outputDir);

}  // namespace ifxsystem
