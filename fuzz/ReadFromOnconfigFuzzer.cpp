// Both forms of ReadFromOnconfig against a literal reading of the line rules: split at
// line feeds, trim blanks, tabs and carriage returns, skip empty and "#" lines, the first
// line whose first blank-separated field is the name decides, and its second field is the
// value unless it begins with "#". The bounded form gets a capacity from the input and
// guard bytes around its buffer, which it must never touch.

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

struct Expected {
    bool named = false;  // some line names the parameter
    std::string value;   // "" for none
};

// What the reader must find for name in content.
Expected expectedFor(const std::string& content, const std::string& name) {
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
            return {true, ""};
        }
        return {true, asCString(fields[1])};
    }
    return {};
}

[[noreturn]] void fail(const std::string& name, const char* form, int result, int error,
                       const std::string& got, const std::string& expected) {
    std::fprintf(stderr, "%s, name '%s': got %d (errno %d) '%s', expected '%s'\n", form,
                 name.c_str(), result, error, got.c_str(), expected.c_str());
    std::abort();
}

void checkUnbounded(const std::string& content, const std::string& name, const Expected& expected) {
    std::vector<char> value(content.size() + 2, '\0');
    const int result = ReadFromOnconfig(g_path.c_str(), name.c_str(), value.data());
    if (std::string(value.data()) != expected.value ||
        result != (expected.value.empty() ? -1 : 0)) {
        fail(name, "three arguments", result, 0, value.data(), expected.value);
    }
}

void checkBounded(const std::string& content, const std::string& name, const Expected& expected,
                  size_t capacity) {
    constexpr size_t kGuard = 8;
    constexpr char kFill = '\x5a';
    std::vector<char> buffer(kGuard + capacity + kGuard, kFill);
    char* value = buffer.data() + kGuard;
    errno = 0;
    const int result = ReadFromOnconfig(g_path.c_str(), name.c_str(), value, capacity);
    const int error = errno;
    const bool fits = !expected.value.empty() && expected.value.size() < capacity;
    int expectedError = 0;
    if (capacity == 0) {
        expectedError = EINVAL;
    } else if (content.empty()) {
        expectedError = ENODATA;
    } else if (!expected.named) {
        expectedError = ENOENT;
    } else if (expected.value.empty()) {
        expectedError = ENODATA;
    } else if (!fits) {
        expectedError = ERANGE;
    }
    const size_t written = expectedError == 0 ? expected.value.size() + 1 : 0;
    // Nothing past the value and its NUL changes, nor the guard before the buffer.
    const bool guarded =
        std::count(buffer.begin() + static_cast<long>(kGuard + written), buffer.end(), kFill) ==
            static_cast<long>(buffer.size() - kGuard - written) &&
        std::count(buffer.begin(), buffer.begin() + kGuard, kFill) == static_cast<long>(kGuard);
    const std::string got = expectedError == 0 && result == 0 ? std::string(value) : "";
    if (result != (expectedError == 0 ? 0 : -1) || (result != 0 && error != expectedError) ||
        got != (expectedError == 0 ? expected.value : "") || !guarded) {
        fail(name, "bounded", result, error, got, expected.value);
    }
}

int OpenUnlinkedTemporaryFile() {
    const char* directory = std::getenv("TMPDIR");
    std::string pattern =
        std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
        "/onconfig-fuzz.XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(pattern.c_str());
    }
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("JX_LOG_FILE", "/dev/null", 1);
    g_file = ::memfd_create("onconfig", MFD_CLOEXEC);
    if (g_file < 0) {
        // Kernels before 3.17 have no memfd_create: an unlinked temporary file serves the
        // same, reached through the same /proc path.
        g_file = OpenUnlinkedTemporaryFile();
    }
    if (g_file < 0) {
        std::abort();
    }
    g_path = "/proc/self/fd/" + std::to_string(g_file);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string name = provider.ConsumeRandomLengthString(16);
    // Mostly around the length of a value, now and then far off.
    const size_t capacity = provider.ConsumeIntegralInRange<size_t>(0, 40);
    const std::string content = provider.ConsumeRemainingBytesAsString();
    if (::ftruncate(g_file, 0) != 0 || ::pwrite(g_file, content.data(), content.size(), 0) !=
                                           static_cast<ssize_t>(content.size())) {
        std::abort();
    }
    const Expected expected = content.empty() ? Expected{} : expectedFor(content, asCString(name));
    checkUnbounded(content, name, expected);
    checkBounded(content, name, expected, capacity);
    return 0;
}
