#include "LibraryLog.h"

#include <stdlib.h>

#include <cstdlib>

namespace ifxctl {

namespace {

const char* const kVariables[] = {"JX_LOG_FILE", "JX_DEBUG_LEVEL"};

struct Saved {
    std::optional<std::string> values[2];
    bool saved = false;
};

Saved& callers() {
    static Saved saved;
    return saved;
}

std::optional<std::string> current(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

bool DirectLibraryLog(const LogOptions& options) {
    Saved& saved = callers();
    for (size_t i = 0; i < 2; ++i) {
        saved.values[i] = current(kVariables[i]);
    }
    saved.saved = true;
    if (options.level &&
        ::setenv("JX_DEBUG_LEVEL", std::to_string(*options.level).c_str(), 1) != 0) {
        return false;
    }
    if (options.file) {
        return ::setenv("JX_LOG_FILE", options.file->c_str(), 1) == 0;
    }
    if (options.verbose) {
        return ::unsetenv("JX_LOG_FILE") == 0;
    }
    const std::optional<std::string> named = current("JX_LOG_FILE");
    if (named && !named->empty()) {
        return true;
    }
    return ::setenv("JX_LOG_FILE", "/dev/null", 1) == 0;
}

std::vector<std::pair<std::string, std::string>> CallersLogVariables() {
    std::vector<std::pair<std::string, std::string>> pairs;
    const Saved& saved = callers();
    if (!saved.saved) {
        return pairs;
    }
    for (size_t i = 0; i < 2; ++i) {
        if (current(kVariables[i]) != saved.values[i]) {
            pairs.emplace_back(kVariables[i], saved.values[i].value_or(""));
        }
    }
    return pairs;
}

}  // namespace ifxctl
