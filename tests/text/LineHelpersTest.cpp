#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

#include "ReferenceTokenizer.h"

namespace {

// Offsets of the tokens into the buffer, and the buffer afterwards: everything a
// tokeniser shows to its caller.
struct Tokenisation {
    std::vector<long> offsets;
    std::string buffer;
};

template <typename Tokenise>
Tokenisation tokenise(const std::string& input, const std::string& delim, Tokenise next) {
    Tokenisation result;
    result.buffer = input;
    char* base = result.buffer.data();
    char* save = nullptr;
    for (char* token = next(base, delim.c_str(), &save); token != nullptr;
         token = next(nullptr, delim.c_str(), &save)) {
        result.offsets.push_back(token - base);
    }
    return result;
}

TEST(StrtokTest, EmptyTokensDoNotOccur) {
    char text[] = "a,,b";
    char* save = nullptr;
    EXPECT_STREQ(STRTOK(text, ",", &save), "a");
    EXPECT_STREQ(STRTOK(nullptr, ",", &save), "b");
    EXPECT_EQ(STRTOK(nullptr, ",", &save), nullptr);
}

TEST(StrtokTest, AgreesWithStrtokROnGeneratedStrings) {
    ifxtest::TextGenerator generator(20261210);
    for (int i = 0; i < 5000; ++i) {
        const std::string input = generator.text(40);
        const std::string delim = generator.separators(4);
        const Tokenisation ours = tokenise(input, delim, STRTOK);
        const Tokenisation posix = tokenise(input, delim, ::strtok_r);
        ASSERT_EQ(ours.offsets, posix.offsets) << "input '" << input << "' delim '" << delim << "'";
        ASSERT_EQ(ours.buffer, posix.buffer) << "input '" << input << "' delim '" << delim << "'";
    }
}

TEST(StrtokTest, InterleavedTokenisationsKeepTheirOwnState) {
    char first[] = "a b c";
    char second[] = "x,y";
    char* firstSave = nullptr;
    char* secondSave = nullptr;
    EXPECT_STREQ(STRTOK(first, " ", &firstSave), "a");
    EXPECT_STREQ(STRTOK(second, ",", &secondSave), "x");
    EXPECT_STREQ(STRTOK(nullptr, " ", &firstSave), "b");
    EXPECT_STREQ(STRTOK(nullptr, ",", &secondSave), "y");
    EXPECT_STREQ(STRTOK(nullptr, " ", &firstSave), "c");
    EXPECT_EQ(STRTOK(nullptr, ",", &secondSave), nullptr);
}

struct ChangeCase {
    const char* name;
    std::string input;
    char symb1;
    char symb2;
    std::string buffer;  // the whole buffer afterwards, NUL bytes included
};

TEST(ChangeSymb1ToSymb2Test, ReplacesInPlace) {
    const std::vector<ChangeCase> cases = {
        {"every occurrence", "a.b.c.", '.', '/', "a/b/c/"},
        {"absent character", "abc", '.', '/', "abc"},
        {"empty string", "", '.', '/', ""},
        {"high byte", "x\xFFy\xFF", '\xFF', '-', "x-y-"},
        {"NUL cuts at the first occurrence", "a.b.c", '.', '\0', std::string("a\0b.c", 5)},
        {"NUL symb1 is refused", "abc", '\0', 'x', "abc"},
        {"symb1 equal to symb2", "a.b", '.', '.', "a.b"},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string buffer = c.input;
        EXPECT_EQ(ChangeSymb1ToSymb2(buffer.data(), c.symb1, c.symb2), buffer.data());
        EXPECT_EQ(buffer, c.buffer);
    }
}

TEST(ChangeSymb1ToSymb2Test, LongStringIsReplacedWhole) {
    std::string buffer(1 << 20, ',');
    ChangeSymb1ToSymb2(buffer.data(), ',', ';');
    EXPECT_EQ(buffer, std::string(1 << 20, ';'));
}

struct NextLineCase {
    const char* name;
    std::string text;
    const char* separator;
    int expected;
};

TEST(GetNextLineTest, MeasuresLineOrSeparator) {
    const std::vector<NextLineCase> cases = {
        {"line before separator", "ab\ncd", "\n", 2},
        {"separator first gives its length", "\ncd", "\n", 1},
        {"two-byte separator first", "\r\ncd", "\r\n", 2},
        {"last line without separator", "cd", "\n", 2},
        {"empty text", "", "\n", 0},
        {"empty separator", "abc", "", 0},
    };
    for (const NextLineCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        EXPECT_EQ(GetNextLine(text.data(), c.separator), c.expected);
        EXPECT_EQ(text, c.text);
    }
}

}  // namespace
