#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

namespace {

struct TrimCase {
    const char* name;
    std::string input;
    long start;          // where the returned pointer points
    std::string buffer;  // the whole buffer afterwards, without its final NUL
};

void expectTrim(const TrimCase& c) {
    SCOPED_TRACE(c.name);
    std::string buffer = c.input;
    const char* result = TRIM(buffer.data());
    EXPECT_EQ(result - buffer.data(), c.start);
    EXPECT_EQ(buffer, c.buffer);
}

TEST(TrimTest, TrimsBothEndsInPlace) {
    const std::vector<TrimCase> cases = {
        {"empty", "", 0, ""},
        {"white space only points at the NUL", " \t\n", 3, " \t\n"},
        {"inner blank stays", " a b ", 1, std::string(" a b\0", 5)},
        {"tab, CR and LF", "\ta\r\n", 1, std::string("\ta\0\0", 4)},
        {"vertical tab and form feed", "\v\fa\f\v", 2, std::string("\v\fa\0\0", 5)},
        {"nothing to trim", "a", 0, "a"},
        {"single blank", " ", 1, " "},
        {"trailing only", "ab  ", 0, std::string("ab\0\0", 4)},
    };
    for (const TrimCase& c : cases) {
        expectTrim(c);
    }
}

TEST(TrimTest, NullGivesNull) {
    EXPECT_EQ(TRIM(nullptr), nullptr);
}

// Every byte of 0x80 and above, alone and beside blanks, survives at both ends.
void expectHighBytesKept() {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const std::string high(1, static_cast<char>(byte));
        SCOPED_TRACE(byte);
        expectTrim({"alone", high + "x" + high, 0, high + "x" + high});
        expectTrim({"beside blanks", " " + high + " ", 1, std::string(" ") + high + '\0'});
    }
}

TEST(TrimTest, HighBytesAreNeverWhiteSpace) {
    expectHighBytesKept();
}

TEST(TrimTest, HighBytesAreNeverWhiteSpaceInAnEightBitLocale) {
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    const char* candidates[] = {"en_US.ISO-8859-1", "de_DE.ISO-8859-1", "en_US.UTF-8", "C.UTF-8",
                                "C.utf8"};
    const char* chosen = nullptr;
    for (const char* name : candidates) {
        if (std::setlocale(LC_CTYPE, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) {
        GTEST_SKIP() << "no Latin-1 or UTF-8 locale installed";
    }
    SCOPED_TRACE(chosen);
    expectHighBytesKept();
    std::setlocale(LC_CTYPE, previous.c_str());
}

}  // namespace
