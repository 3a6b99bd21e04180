// Text inputs at the edge of a signed 32-bit length: 2^31 - 1 bytes, the longest a count
// of type int can describe, and 2^31 bytes and more. They need gigabytes, so they run
// alone, only when the memory is there, and not under a sanitizer (whose shadow memory
// and checks would multiply both the memory and the time).

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "badinput/BadInputSupport.h"
#include "support/LogFile.h"
#include "support/Sanitizers.h"

namespace {

using ifxtest::kUnderSanitizer;

constexpr size_t kGiB = size_t{1} << 30;
constexpr size_t kLongest = static_cast<size_t>(INT_MAX);  // 2^31 - 1
constexpr size_t kTooLong = kLongest + 1;                  // 2^31

size_t AvailableMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    size_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib >> unit) {
        if (key == "MemAvailable:") {
            return kib * 1024;
        }
    }
    return 0;
}

// Skips the test unless this much memory is free now, with a margin for everything else.
#define REQUIRE_MEMORY(bytes)                                                             \
    do {                                                                                  \
        if (kUnderSanitizer) {                                                            \
            GTEST_SKIP() << "inputs of 2 GiB are not run under a sanitizer";              \
        }                                                                                 \
        if (AvailableMemory() < (bytes) + 2 * kGiB) {                                     \
            GTEST_SKIP() << "needs " << ((bytes) + 2 * kGiB) / kGiB << " GiB free, only " \
                         << AvailableMemory() / kGiB << " GiB available";                 \
        }                                                                                 \
    } while (0)

// One buffer of 2^31 + 2 bytes whose text length is set by moving its terminating NUL.
class LongText {
  public:
    explicit LongText(char fill)
        : m_bytes(static_cast<char*>(std::malloc(kTooLong + 2))), m_fill(fill) {
        if (m_bytes != nullptr) {
            std::memset(m_bytes, fill, kTooLong + 2);
            m_bytes[kTooLong + 1] = '\0';
            m_end = kTooLong + 1;
        }
    }
    ~LongText() { std::free(m_bytes); }
    LongText(const LongText&) = delete;
    LongText& operator=(const LongText&) = delete;

    bool allocated() const { return m_bytes != nullptr; }
    char* data() { return m_bytes; }
    // The text becomes length bytes long.
    char* Length(size_t length) {
        m_bytes[m_end] = m_fill;
        m_bytes[length] = '\0';
        m_end = length;
        return m_bytes;
    }

  private:
    char* m_bytes;
    char m_fill;
    size_t m_end = 0;
};

TEST(BadInputHuge, SplittersTakeTheLongestIntLengthAndRefuseLonger) {
    REQUIRE_MEMORY(2 * kTooLong);  // the input and split's working copy
    ifxtest::LogFile log;
    // Separators with one token in front: the copy is made, the token list stays short.
    LongText text(' ');
    ASSERT_TRUE(text.allocated());
    text.data()[0] = 'a';
    char* tokens[2] = {};
    int count = 0;
    ifxtest::RunRows({
        {"split(2^31 - 1 bytes, tokens, \" \")", "1 token",
         [&] {
             EXPECT_EQ(split(text.Length(kLongest), tokens, " "), 1);
             EXPECT_STREQ(tokens[0], "a");
             std::free(tokens[0]);
             tokens[0] = nullptr;
         }},
        {"split(2^31 - 1 bytes, tokens, \",\", \" \")", "1 token",
         [&] {
             EXPECT_EQ(split(text.Length(kLongest), tokens, ",", " "), 1);
             std::free(tokens[0]);
             tokens[0] = nullptr;
         }},
        {"split(2^31 bytes, tokens, \" \")", "-1, errno EOVERFLOW, nothing stored",
         [&] {
             errno = 0;
             EXPECT_EQ(split(text.Length(kTooLong), tokens, " "), -1);
             EXPECT_EQ(errno, EOVERFLOW);
             EXPECT_EQ(tokens[0], nullptr);
         }},
        {"split(2^31 + 1 bytes, tokens, \",\", \" \")", "-1, errno EOVERFLOW",
         [&] {
             errno = 0;
             EXPECT_EQ(split(text.Length(kTooLong + 1), tokens, ",", " "), -1);
             EXPECT_EQ(errno, EOVERFLOW);
         }},
        {"CommandLineToArgv(2^31 bytes, &count, \" \")", "null, errno EOVERFLOW",
         [&] {
             errno = 0;
             EXPECT_EQ(CommandLineToArgv(text.Length(kTooLong), &count, " "), nullptr);
             EXPECT_EQ(errno, EOVERFLOW);
         }},
        {"SplitLine(2^31 bytes, &count, \",\", \" \")", "null, errno EOVERFLOW",
         [&] {
             errno = 0;
             EXPECT_EQ(SplitLine(text.Length(kTooLong), &count, ",", " "), nullptr);
             EXPECT_EQ(errno, EOVERFLOW);
         }},
    });
}

// The builders size a pointer array for the most tokens the input could hold: 8 GiB
// for 2^31 - 1 bytes, on top of the input and the working copy.
TEST(BadInputHuge, ArrayBuilderTakesTheLongestIntLength) {
    REQUIRE_MEMORY(2 * kTooLong + 8 * kGiB);
    ifxtest::LogFile log;
    LongText text(' ');
    ASSERT_TRUE(text.allocated());
    text.data()[0] = 'a';
    SCOPED_TRACE("CommandLineToArgv(2^31 - 1 bytes, &count, \" \")  ->  1 token");
    int count = 0;
    char** tokens = CommandLineToArgv(text.Length(kLongest), &count, " ");
    ASSERT_NE(tokens, nullptr);
    EXPECT_EQ(count, 1);
    free_split_array(count, tokens);
}

TEST(BadInputHuge, LineHelpersNeverReportANegativeLengthOrCutALongString) {
    REQUIRE_MEMORY(kTooLong);
    LongText text('l');
    ASSERT_TRUE(text.allocated());
    ifxtest::RunRows({
        {"GetNextLine(2^31 bytes without a separator, \"\\n\")", "a length, never negative",
         [&] { EXPECT_GE(GetNextLine(text.Length(kTooLong), "\n"), 0); }},
        {"GetNextLine(2^31 bytes, then \"\\n\", \"\\n\")", "a length, never negative",
         [&] {
             char* line = text.Length(kTooLong + 1);
             line[kTooLong] = '\n';
             EXPECT_GE(GetNextLine(line, "\n"), 0);
             line[kTooLong] = 'l';
         }},
        {"GetNextLine(2^31 - 1 bytes, \"\\n\")", "2^31 - 1",
         [&] { EXPECT_EQ(GetNextLine(text.Length(kLongest), "\n"), INT_MAX); }},
        {"TRIM(a blank, 2^31 - 1 bytes, a blank)",
         "the inner 2^31 - 1 bytes: the pointer past the first blank, the last one cut",
         [&] {
             char* padded = text.Length(kTooLong + 1);
             padded[0] = ' ';
             padded[kTooLong] = ' ';
             // A 32-bit count takes this length for a negative one: the row runs in a
             // child, where a read before the buffer fails it alone.
             auto trim = [padded]() -> std::string {
                 char* trimmed = TRIM(padded);
                 if (trimmed != padded + 1) {
                     return "TRIM returned start + " + std::to_string(trimmed - padded);
                 }
                 if (padded[kTooLong] != '\0' || padded[kTooLong - 1] != 'l') {
                     return "the end was not cut after the last inner byte";
                 }
                 return "";
             };
             EXPECT_TRUE(ifxtest::SurvivesInAChild(trim));
         }},
    });
}

}  // namespace
