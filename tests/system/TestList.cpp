#include "TestList.h"

#include <cstdlib>
#include <fstream>

namespace ifxsystem {

namespace {

// Applies one "key value" line to the list; false for an unknown key or a field before
// the first test.
bool applyField(const std::string& key, const std::string& value, TestList* list) {
    if (key == "base") {
        list->baseEnv.push_back(value);
        return true;
    }
    if (key == "test") {
        list->tests.emplace_back();
        list->tests.back().name = value;
        return true;
    }
    if (list->tests.empty()) {
        return false;
    }
    TestCase& test = list->tests.back();
    if (key == "dir") {
        test.dir = value;
    } else if (key == "timeout") {
        test.timeoutSeconds = std::strtol(value.c_str(), nullptr, 10);
    } else if (key == "serial") {
        test.serial = true;
    } else if (key == "will-fail") {
        test.willFail = true;
    } else if (key == "skip-code") {
        test.skipCode = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
    } else if (key == "skip-regex") {
        test.skipRegexes.push_back(value);
    } else if (key == "env") {
        test.env.push_back(value);
    } else if (key == "arg") {
        test.args.push_back(value);
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ReadTestList(const std::string& path, TestList* list, std::string* error) {
    std::ifstream file(path);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const size_t blank = line.find(' ');
        const std::string key = line.substr(0, blank);
        const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (!applyField(key, value, list)) {
            *error = path + ":" + std::to_string(number) + ": unexpected line: " + line;
            return false;
        }
    }
    for (const TestCase& test : list->tests) {
        if (test.args.empty()) {
            *error = path + ": test " + test.name + " has no command";
            return false;
        }
    }
    return true;
}

}  // namespace ifxsystem
