#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

#include "ReferenceTokenizer.h"

namespace {

std::vector<std::string> asVector(char** tokens, int count) {
    return std::vector<std::string>(tokens, tokens + count);
}

// The builder's tokens, released again.
std::vector<std::string> viaCommandLineToArgv(const std::string& input, const char* separators) {
    int count = -2;
    char** tokens = CommandLineToArgv(input.c_str(), &count, separators);
    EXPECT_NE(tokens, nullptr);
    std::vector<std::string> result = asVector(tokens, count);
    free_split_array(count, tokens);
    return result;
}

std::vector<std::string> viaSplitLine(const std::string& input, const char* separators,
                                      const char* subSeparators) {
    int count = -2;
    char** tokens = SplitLine(input.c_str(), &count, separators, subSeparators);
    EXPECT_NE(tokens, nullptr);
    std::vector<std::string> result = asVector(tokens, count);
    free_split_array(count, tokens);
    return result;
}

// The caller-array split, into a zero-filled array of the builders' capacity.
std::vector<std::string> viaSplit(const std::string& input, const char* separators) {
    std::vector<char*> tokens(input.size() / 2 + 1, nullptr);
    const int count = split(input.c_str(), tokens.data(), separators);
    EXPECT_GE(count, 0);
    std::vector<std::string> result = asVector(tokens.data(), count);
    for (char* token : tokens) {
        std::free(token);
    }
    return result;
}

struct SplitCase {
    const char* name;
    std::string input;
    const char* separators;
    std::vector<std::string> expected;
};

TEST(SplitTest, OneSeparatorSet) {
    const std::vector<SplitCase> cases = {
        {"run of separators", "a  b", " ", {"a", "b"}},
        {"separators at both ends", "  a b ", " ", {"a", "b"}},
        {"separators only", " \t \t", " \t", {}},
        {"empty input", "", " ", {}},
        {"empty separator set", "a b", "", {"a b"}},
        {"quotes are ordinary", "\"a b\"", " ", {"\"a", "b\""}},
        {"backslash is ordinary", "a\\ b", " ", {"a\\", "b"}},
        {"most tokens for the length", "a,b,c", ",", {"a", "b", "c"}},
        {"high bytes", "\xE4\xF6 \xFC", " ", {"\xE4\xF6", "\xFC"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(viaSplit(c.input, c.separators), c.expected);
        EXPECT_EQ(viaCommandLineToArgv(c.input, c.separators), c.expected);
    }
}

TEST(SplitTest, EmptyInputGivesAnEmptyNonNullArray) {
    int count = -2;
    char** tokens = CommandLineToArgv("", &count, " ");
    ASSERT_NE(tokens, nullptr);
    EXPECT_EQ(count, 0);
    free_split_array(count, tokens);
}

TEST(SplitTest, TwoSetsSplitLikeTheirUnion) {
    EXPECT_EQ(viaSplitLine("a,b;c", ";", ","), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(viaCommandLineToArgv("a,b;c", ",;"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(viaSplitLine(";;a,,b;,;c,", ";", ","), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(viaSplitLine("x=1 y=2", " ", ""), (std::vector<std::string>{"x=1", "y=2"}));
}

TEST(SplitTest, BuildersAgreeWithReferenceOnGeneratedStrings) {
    ifxtest::TextGenerator generator(4242);
    for (int i = 0; i < 3000; ++i) {
        const std::string input = generator.text(64);
        const std::string first = generator.separators(3);
        const std::string second = generator.separators(3);
        SCOPED_TRACE("input '" + input + "' first '" + first + "' second '" + second + "'");
        ASSERT_EQ(viaCommandLineToArgv(input, first.c_str()),
                  ifxtest::referenceTokens(input, first));
        ASSERT_EQ(viaSplitLine(input, first.c_str(), second.c_str()),
                  ifxtest::referenceTokens(input, first + second));
    }
}

TEST(SplitTest, InputIsNotModified) {
    const std::string original = "a b;c";
    std::string input = original;
    int count = 0;
    char** tokens = CommandLineToArgv(input.c_str(), &count, " ");
    free_split_array(count, tokens);
    tokens = SplitLine(input.c_str(), &count, ";", " ");
    free_split_array(count, tokens);
    EXPECT_EQ(input, original);
}

TEST(SplitTest, NullArgumentsFailWithEinval) {
    char* tokens[4] = {};
    int count = 99;
    const char* text = "a b";
    const char* null = nullptr;

    errno = 0;
    EXPECT_EQ(split(null, tokens, " "), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(split(text, nullptr, " "), -1);
    EXPECT_EQ(split(text, tokens, null), -1);
    EXPECT_EQ(split(text, tokens, " ", null), -1);
    EXPECT_EQ(split(null, tokens, " ", ","), -1);

    errno = 0;
    EXPECT_EQ(CommandLineToArgv(null, &count, " "), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(CommandLineToArgv(text, nullptr, " "), nullptr);
    EXPECT_EQ(CommandLineToArgv(text, &count, null), nullptr);
    EXPECT_EQ(SplitLine(null, &count, ";", " "), nullptr);
    EXPECT_EQ(SplitLine(text, nullptr, ";", " "), nullptr);
    EXPECT_EQ(SplitLine(text, &count, null, " "), nullptr);
    EXPECT_EQ(SplitLine(text, &count, ";", null), nullptr);
    EXPECT_EQ(count, 99);
    for (char* token : tokens) {
        EXPECT_EQ(token, nullptr);
    }
}

TEST(FreeSplitArrayTest, ToleratesNullAndSkipsNullEntries) {
    free_split_array(3, nullptr);
    char** tokens = static_cast<char**>(std::malloc(3 * sizeof(char*)));
    ASSERT_NE(tokens, nullptr);  // NOLINT(clang-analyzer-unix.Malloc): free_split_array owns it
    tokens[0] = static_cast<char*>(std::malloc(2));
    tokens[1] = nullptr;
    tokens[2] = static_cast<char*>(std::malloc(2));
    free_split_array(3, tokens);  // the sanitizers and leak checker see the rest
}

}  // namespace
