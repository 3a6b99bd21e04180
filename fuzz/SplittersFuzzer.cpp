// The token array builders against a plain tokeniser: a token is a maximal run of bytes
// that are not separators, and the two-level split equals a split at both sets.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <IfxLib/IfxLib.h>

namespace {

// The text a C function sees in s: everything before its first NUL.
std::string asCString(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

std::vector<std::string> referenceTokens(const char* str, const std::string& separators) {
    std::vector<std::string> tokens;
    std::string current;
    for (const char* p = str; *p != '\0'; ++p) {
        if (separators.find(*p) != std::string::npos) {
            if (!current.empty()) {
                tokens.push_back(current);
                current.clear();
            }
        } else {
            current += *p;
        }
    }
    if (!current.empty()) {
        tokens.push_back(current);
    }
    return tokens;
}

void expectTokens(char** tokens, int count, const std::vector<std::string>& expected,
                  const char* what) {
    bool same = tokens != nullptr && count == static_cast<int>(expected.size());
    for (int i = 0; same && i < count; ++i) {
        same = expected[static_cast<size_t>(i)] == tokens[i];
    }
    if (!same) {
        std::fprintf(stderr, "%s: %d tokens, expected %zu\n", what, count, expected.size());
        std::abort();
    }
    free_split_array(count, tokens);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("JX_LOG_FILE", "/dev/null", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string separators = asCString(provider.ConsumeRandomLengthString(6));
    const std::string subSeparators = asCString(provider.ConsumeRandomLengthString(6));
    const std::string input = provider.ConsumeRemainingBytesAsString();

    int count = -1;
    char** tokens = CommandLineToArgv(input.c_str(), &count, separators.c_str());
    expectTokens(tokens, count, referenceTokens(input.c_str(), separators), "CommandLineToArgv");

    count = -1;
    tokens = SplitLine(input.c_str(), &count, separators.c_str(), subSeparators.c_str());
    expectTokens(tokens, count, referenceTokens(input.c_str(), separators + subSeparators),
                 "SplitLine");
    return 0;
}
