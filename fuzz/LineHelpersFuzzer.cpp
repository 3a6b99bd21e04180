// TRIM, ChangeSymb1ToSymb2 and GetNextLine against plain restatements of their results,
// with the whole buffer compared, so that a write past the text or a wrong in-place
// effect shows.

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
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

bool isTrimmedSpace(unsigned char c) {
    return c < 0x80 && std::isspace(c) != 0;
}

void checkTrim(const std::string& text) {
    std::vector<char> buffer(text.c_str(), text.c_str() + std::strlen(text.c_str()) + 1);
    const std::vector<char> before = buffer;
    const char* result = TRIM(buffer.data());

    const size_t length = before.size() - 1;
    size_t begin = 0;
    while (begin < length && isTrimmedSpace(static_cast<unsigned char>(before[begin]))) {
        ++begin;
    }
    size_t end = length;
    while (end > begin && isTrimmedSpace(static_cast<unsigned char>(before[end - 1]))) {
        --end;
    }
    std::vector<char> expected = before;
    for (size_t i = end; i < length && begin < end; ++i) {
        expected[i] = '\0';
    }
    if (result != buffer.data() + begin || buffer != expected) {
        std::abort();
    }
}

void checkChange(const std::string& text, char from, char to) {
    std::vector<char> buffer(text.c_str(), text.c_str() + std::strlen(text.c_str()) + 1);
    std::vector<char> expected = buffer;
    if (from != '\0' && from != to) {
        for (size_t i = 0; i + 1 < expected.size(); ++i) {
            if (expected[i] == from) {
                expected[i] = to;
                if (to == '\0') {
                    break;  // the text ends here; what follows is no longer part of it
                }
            }
        }
    }
    if (ChangeSymb1ToSymb2(buffer.data(), from, to) != buffer.data() || buffer != expected) {
        std::abort();
    }
}

void checkNextLine(const std::string& text, const std::string& separator) {
    std::vector<char> buffer(text.c_str(), text.c_str() + std::strlen(text.c_str()) + 1);
    const std::string view = buffer.data();
    const std::string::size_type at = view.find(asCString(separator));
    int expected = static_cast<int>(view.size());
    if (at == 0) {
        expected = static_cast<int>(std::strlen(separator.c_str()));
    } else if (at != std::string::npos) {
        expected = static_cast<int>(at);
    }
    if (GetNextLine(buffer.data(), separator.c_str()) != expected) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const char from = provider.ConsumeIntegral<char>();
    const char to = provider.ConsumeIntegral<char>();
    const std::string separator = provider.ConsumeRandomLengthString(4);
    const std::string text = provider.ConsumeRemainingBytesAsString();
    checkTrim(text);
    checkChange(text, from, to);
    checkNextLine(text, separator);
    return 0;
}
