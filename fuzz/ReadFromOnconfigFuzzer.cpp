// ReadFromOnconfig against a literal reading of the line rules: split at line feeds,
// trim blanks, tabs and carriage returns, skip empty and "#" lines, the first line whose
// first blank-separated field is the name decides, and its second field is the value
// unless it begins with "#".

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <IfxLib/IfxLib.h>

namespace {

// The text a C function sees in s: everything before its first NUL.
std::string asCString(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

int g_file = -1;
std::string g_path;

std::vector<std::string> piecesOf(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    while (start <= text.size()) {
        std::string::size_type end = text.find(separator, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            pieces.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

std::string trimmed(const std::string& line) {
    const char* blanks = " \t\r";
    const std::string::size_type first = line.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

// The value the reader must deliver into an empty buffer ("" for none).
std::string expectedValue(const std::string& content, const std::string& name) {
    for (const std::string& raw : piecesOf(content, '\n')) {
        std::string line = trimmed(raw);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        for (char& c : line) {
            c = c == '\t' ? ' ' : c;
        }
        const std::vector<std::string> fields = piecesOf(line, ' ');
        // Compared byte for byte: a field with a NUL inside is not the name before it.
        if (fields.empty() || fields[0] != name) {
            continue;
        }
        if (fields.size() < 2 || fields[1][0] == '#') {
            return "";
        }
        return asCString(fields[1]);
    }
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("JX_LOG_FILE", "/dev/null", 1);
    g_file = ::memfd_create("onconfig", MFD_CLOEXEC);
    if (g_file < 0) {
        std::abort();
    }
    g_path = "/proc/self/fd/" + std::to_string(g_file);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string name = provider.ConsumeRandomLengthString(16);
    const std::string content = provider.ConsumeRemainingBytesAsString();
    if (::ftruncate(g_file, 0) != 0 || ::pwrite(g_file, content.data(), content.size(), 0) !=
                                           static_cast<ssize_t>(content.size())) {
        std::abort();
    }
    std::vector<char> value(content.size() + 2, '\0');
    const int result = ReadFromOnconfig(g_path.c_str(), name.c_str(), value.data());
    const std::string expected = content.empty() ? "" : expectedValue(content, asCString(name));
    if (std::string(value.data()) != expected || result != (expected.empty() ? -1 : 0)) {
        std::fprintf(stderr, "name '%s': got %d '%s', expected '%s'\n", name.c_str(), result,
                     value.data(), expected.c_str());
        std::abort();
    }
    return 0;
}
