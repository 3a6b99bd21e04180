// The settings registry reader on arbitrary section files: the first "<name> <value>"
// line wins, values are verbatim, a value that does not fit reports the size it needs,
// and nothing is written past the capacity given.

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <IfxLib/platform/HostServices.h>

namespace {

// The text a C function sees in s: everything before its first NUL.
std::string asCString(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

std::string g_section;

// The value of the first line "<name>" or "<name><blank or tab>...", or false.
bool referenceLookup(const std::string& content, const std::string& name, std::string& value) {
    std::string::size_type start = 0;
    while (start < content.size()) {
        std::string::size_type end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        const std::string line = content.substr(start, end - start);
        if (!line.empty() && line[0] != '#' && line.compare(0, name.size(), name) == 0) {
            if (line.size() == name.size()) {
                value.clear();
                return true;
            }
            if (line[name.size()] == ' ' || line[name.size()] == '\t') {
                value = line.substr(name.size() + 1);
                return true;
            }
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char root[] = "/tmp/ifxfuzz-registry-XXXXXX";
    if (::mkdtemp(root) == nullptr) {
        std::abort();
    }
    ::setenv("JX_REGISTRY_DIR", root, 1);
    g_section = std::string(root) + "/Section";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const int capacity = provider.ConsumeIntegralInRange<int>(0, 64);
    const std::string name = asCString(provider.ConsumeRandomLengthString(8));
    const std::string content = provider.ConsumeRemainingBytesAsString();
    const int fd = ::open(g_section.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 ||
        ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
        std::abort();
    }
    ::close(fd);

    // Exactly capacity bytes on the heap, so that AddressSanitizer sees any write past it.
    std::vector<char> out(static_cast<size_t>(capacity) + 1, '@');
    char* buffer = capacity > 0 ? new char[static_cast<size_t>(capacity)] : nullptr;
    if (buffer != nullptr) {
        std::memset(buffer, '@', static_cast<size_t>(capacity));
    }
    int sizeArgument = capacity;
    JXPlatformInfo reader;
    const int found = reader.getString("Section", name.c_str(),
                                       buffer != nullptr ? buffer : out.data(), &sizeArgument);

    std::string expected;
    const bool exists = !name.empty() && referenceLookup(content, name, expected);
    const bool fits = exists && static_cast<int>(expected.size()) < capacity;
    bool right = (found != 0) == fits;
    if (fits) {
        right = right && std::memcmp(buffer, expected.c_str(), expected.size() + 1) == 0;
    } else if (exists) {
        right = right && sizeArgument == static_cast<int>(expected.size()) + 1;
    }
    delete[] buffer;
    if (!right) {
        std::abort();
    }
    return 0;
}
