// Inputs around 2^31 bytes, where a length held in an int goes negative. They need a few
// GiB of memory, so they share one buffer in one test that runs alone.

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

namespace {

constexpr std::size_t kTwoToThe31 = std::size_t{1} << 31;
constexpr std::size_t kIntMax = static_cast<std::size_t>(INT_MAX);
// At its peak the test holds the buffer and a split's working copy of it, about 4.2 GiB
// (4.7 under AddressSanitizer); the rest is left for the system.
constexpr unsigned long long kNeededKiB = 6ULL << 20;

// MemAvailable of /proc/meminfo in KiB, 0 when it cannot be read.
unsigned long long availableKiB() {
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        std::istringstream fields(line);
        std::string key;
        unsigned long long kib = 0;
        if (fields >> key >> kib && key == "MemAvailable:") {
            return kib;
        }
    }
    return 0;
}

bool underThreadSanitizer() {
#if defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return false;
}

struct FreeDeleter {
    void operator()(char* block) const { std::free(block); }
};

// Tokens of a split, released at the end of the scope.
struct Tokens {
    char* entries[2] = {nullptr, nullptr};
    ~Tokens() {
        std::free(entries[0]);
        std::free(entries[1]);
    }
};

TEST(LargeInputTest, LengthsOfTwoToThe31BytesAndMore) {
    if (underThreadSanitizer()) {
        GTEST_SKIP() << "skipped under ThreadSanitizer: its shadow memory is several times the "
                        "4 GiB this test touches, and the test starts no thread";
    }
    const unsigned long long available = availableKiB();
    if (available < kNeededKiB) {
        GTEST_SKIP() << "needs " << (kNeededKiB >> 20) << " GiB of available memory, "
                     << (available >> 20) << " GiB available";
    }
    const std::size_t size = kTwoToThe31 + 2;
    std::unique_ptr<char, FreeDeleter> owner(static_cast<char*>(std::malloc(size)));
    ASSERT_NE(owner, nullptr);
    char* text = owner.get();

    {
        SCOPED_TRACE("GetNextLine: a line of 2^31 bytes, then the same line shorter");
        std::memset(text, 'a', kTwoToThe31);
        text[kTwoToThe31] = '\n';
        text[kTwoToThe31 + 1] = '\0';
        errno = 0;
        EXPECT_EQ(GetNextLine(text, "\n"), INT_MAX);
        EXPECT_EQ(errno, EOVERFLOW);
        errno = 0;
        EXPECT_EQ(GetNextLine(text, "no such separator"), INT_MAX);
        EXPECT_EQ(errno, EOVERFLOW);
        errno = 0;
        EXPECT_EQ(GetNextLine(text + 2, "\n"), INT_MAX - 1);
        EXPECT_EQ(errno, 0);
    }
    {
        SCOPED_TRACE("TRIM: 2^31 + 1 bytes with a blank at each end");
        std::memset(text, 'a', kTwoToThe31 + 1);
        text[0] = ' ';
        text[kTwoToThe31] = ' ';
        text[kTwoToThe31 + 1] = '\0';
        EXPECT_EQ(TRIM(text), text + 1);
        EXPECT_EQ(text[kTwoToThe31], '\0');
        EXPECT_EQ(text[kTwoToThe31 - 1], 'a');
        EXPECT_EQ(text[1], 'a');
    }
    {
        SCOPED_TRACE("splitters: 2^31 - 1 bytes are taken, 2^31 are refused");
        std::memset(text, ' ', kIntMax);
        text[kIntMax - 1] = 'x';
        text[kIntMax] = '\0';
        // One split at the limit: every splitter checks the length in the same place, and
        // each accepted split copies the whole input.
        Tokens one;
        EXPECT_EQ(split(text, one.entries, " "), 1);
        EXPECT_STREQ(one.entries[0], "x");

        text[kIntMax] = ' ';
        text[kTwoToThe31] = '\0';
        Tokens none;
        errno = 0;
        EXPECT_EQ(split(text, none.entries, " "), -1);
        EXPECT_EQ(errno, EOVERFLOW);
        errno = 0;
        EXPECT_EQ(split(text, none.entries, ",", " "), -1);
        EXPECT_EQ(errno, EOVERFLOW);
        int count = -2;
        errno = 0;
        EXPECT_EQ(CommandLineToArgv(text, &count, " "), nullptr);
        EXPECT_EQ(errno, EOVERFLOW);
        errno = 0;
        EXPECT_EQ(SplitLine(text, &count, ",", " "), nullptr);
        EXPECT_EQ(errno, EOVERFLOW);
        EXPECT_EQ(count, -2) << "the count is not written when nothing was split";
    }
}

}  // namespace
