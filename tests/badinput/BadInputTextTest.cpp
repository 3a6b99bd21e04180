// The splitters, the line helpers and the ONCONFIG reader with null pointers, negative and
// oversized counts, empty and very long values, and inputs that end exactly where their
// heap block ends.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "badinput/BadInputSupport.h"
#include "support/LogFile.h"
#include "support/TempDir.h"

namespace {

using ifxtest::ExactBuffer;
using ifxtest::ExactString;
using ifxtest::Row;

constexpr size_t kMiB = size_t{1} << 20;

// The tokens of a builder's array, released with it.
std::vector<std::string> TakeTokens(char** tokens, int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        texts.emplace_back(tokens[i]);
    }
    free_split_array(count, tokens);
    return texts;
}

TEST(BadInputText, SplitWithNullPointersAndExtremeInputs) {
    ifxtest::LogFile log;
    char* tokens[4] = {};
    auto expectRefused = [&](int result) {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(tokens[0], nullptr) << "nothing stored";
    };
    const std::string longToken(kMiB, 't');
    ifxtest::RunRows({
        {"split(nullptr, tokens, \" \")", "-1",
         [&] { expectRefused(split(nullptr, tokens, " ")); }},
        {"split(\"a b\", nullptr, \" \")", "-1",
         [&] { EXPECT_EQ(split("a b", nullptr, " "), -1); }},
        {"split(\"a b\", tokens, nullptr)", "-1",
         [&] { expectRefused(split("a b", tokens, nullptr)); }},
        {"split(nullptr, tokens, \";\", \",\")", "-1",
         [&] { expectRefused(split(nullptr, tokens, ";", ",")); }},
        {"split(\"a;b\", nullptr, \";\", \",\")", "-1",
         [&] { EXPECT_EQ(split("a;b", nullptr, ";", ","), -1); }},
        {"split(\"a;b\", tokens, nullptr, \",\")", "-1",
         [&] { expectRefused(split("a;b", tokens, nullptr, ",")); }},
        {"split(\"a;b\", tokens, \";\", nullptr)", "-1",
         [&] { expectRefused(split("a;b", tokens, ";", nullptr)); }},
        {"split(\"\", tokens, \" \")", "0 tokens", [&] { EXPECT_EQ(split("", tokens, " "), 0); }},
        {"split(\"a b\" ending its block, tokens, \"\")", "1 token, the whole input",
         [&] {
             const auto input = ExactString("a b");
             ASSERT_EQ(split(input.get(), tokens, ""), 1);
             EXPECT_STREQ(tokens[0], "a b");
             std::free(tokens[0]);
             tokens[0] = nullptr;
         }},
        {"split(one token of 1 MiB, tokens, \" \", \",\")", "1 token, whole",
         [&] {
             ASSERT_EQ(split((" " + longToken + ",").c_str(), tokens, " ", ","), 1);
             EXPECT_EQ(tokens[0], longToken);
             std::free(tokens[0]);
             tokens[0] = nullptr;
         }},
    });
}

TEST(BadInputText, ArrayBuildersWithNullPointersAndExtremeInputs) {
    ifxtest::LogFile log;
    int count = -7;
    const std::string separatorsOnly(kMiB, ' ');
    ifxtest::RunRows({
        {"CommandLineToArgv(nullptr, &count, \" \")", "null",
         [&] { EXPECT_EQ(CommandLineToArgv(nullptr, &count, " "), nullptr); }},
        {"CommandLineToArgv(\"a\", nullptr, \" \")", "null",
         [&] { EXPECT_EQ(CommandLineToArgv("a", nullptr, " "), nullptr); }},
        {"CommandLineToArgv(\"a\", &count, nullptr)", "null",
         [&] { EXPECT_EQ(CommandLineToArgv("a", &count, nullptr), nullptr); }},
        {"SplitLine(nullptr, &count, \";\", \",\")", "null",
         [&] { EXPECT_EQ(SplitLine(nullptr, &count, ";", ","), nullptr); }},
        {"SplitLine(\"a\", nullptr, \";\", \",\")", "null",
         [&] { EXPECT_EQ(SplitLine("a", nullptr, ";", ","), nullptr); }},
        {"SplitLine(\"a\", &count, nullptr, \",\")", "null",
         [&] { EXPECT_EQ(SplitLine("a", &count, nullptr, ","), nullptr); }},
        {"SplitLine(\"a\", &count, \";\", nullptr)", "null",
         [&] { EXPECT_EQ(SplitLine("a", &count, ";", nullptr), nullptr); }},
        {"CommandLineToArgv(\"\", &count, \" \")", "an empty array, count 0",
         [&] {
             char** tokens = CommandLineToArgv("", &count, " ");
             ASSERT_NE(tokens, nullptr);
             EXPECT_EQ(count, 0);
             free_split_array(count, tokens);
         }},
        {"CommandLineToArgv(1 MiB of separators, &count, \" \")", "an empty array, count 0",
         [&] {
             char** tokens = CommandLineToArgv(separatorsOnly.c_str(), &count, " ");
             ASSERT_NE(tokens, nullptr);
             EXPECT_EQ(count, 0);
             free_split_array(count, tokens);
         }},
        {"SplitLine(\"a,b;c\" ending its block, &count, \";\", \",\")", "a, b and c",
         [&] {
             const auto input = ExactString("a,b;c");
             char** tokens = SplitLine(input.get(), &count, ";", ",");
             ASSERT_NE(tokens, nullptr);
             EXPECT_EQ(TakeTokens(tokens, count), (std::vector<std::string>{"a", "b", "c"}));
         }},
    });
}

TEST(BadInputText, FreeSplitArrayWithNullAndOutOfRangeCounts) {
    ifxtest::RunRows({
        {"free_split_array(0, nullptr)", "nothing", [] { free_split_array(0, nullptr); }},
        {"free_split_array(-1, nullptr)", "nothing", [] { free_split_array(-1, nullptr); }},
        {"free_split_array(INT_MAX, nullptr)", "nothing",
         [] { free_split_array(INT_MAX, nullptr); }},
        {"free_split_array(INT_MIN, array of 2 tokens)",
         "the array alone released; the tokens stay the caller's",
         [] {
             int count = 0;
             char** tokens = CommandLineToArgv("a b", &count, " ");
             ASSERT_EQ(count, 2);
             char* kept[2] = {tokens[0], tokens[1]};
             free_split_array(INT_MIN, tokens);
             EXPECT_STREQ(kept[1], "b");
             std::free(kept[0]);
             std::free(kept[1]);
         }},
        {"free_split_array(3, array with a null entry)", "the two tokens and the array released",
         [] {
             int count = 0;
             char** tokens = CommandLineToArgv("a b c", &count, " ");
             ASSERT_EQ(count, 3);
             std::free(tokens[1]);
             tokens[1] = nullptr;
             free_split_array(3, tokens);
         }},
    });
}

TEST(BadInputText, LineHelpersWithNullPointersAndEdgeInputs) {
    char* save = nullptr;
    ifxtest::RunRows({
        {"TRIM(nullptr)", "null", [] { EXPECT_EQ(TRIM(nullptr), nullptr); }},
        {"TRIM(\"\")", "the string itself",
         [] {
             char empty[] = "";
             EXPECT_EQ(TRIM(empty), empty);
         }},
        {"TRIM(1 MiB of blanks ending its block)", "its terminating NUL, the buffer unchanged",
         [] {
             const auto blanks = ExactString(std::string(kMiB, ' '));
             EXPECT_EQ(TRIM(blanks.get()), blanks.get() + kMiB);
             EXPECT_EQ(std::strlen(blanks.get()), kMiB);
         }},
        {"TRIM(\"\\xa0 a \\xa0\" ending its block)", "bytes of 0x80 and above kept at both ends",
         [] {
             const auto text = ExactString("\xa0 a \xa0");
             EXPECT_STREQ(TRIM(text.get()), "\xa0 a \xa0");
         }},
        {"STRTOK(\"a b\", \"\", &save)", "the whole string, then null",
         [&] {
             const auto text = ExactString("a b");
             EXPECT_STREQ(STRTOK(text.get(), "", &save), "a b");
             EXPECT_EQ(STRTOK(nullptr, "", &save), nullptr);
         }},
        {"STRTOK(nullptr, \",\", &save) after the last token", "null, every time",
         [&] {
             const auto text = ExactString(",a,");
             EXPECT_STREQ(STRTOK(text.get(), ",", &save), "a");
             EXPECT_EQ(STRTOK(nullptr, ",", &save), nullptr);
             EXPECT_EQ(STRTOK(nullptr, ",", &save), nullptr);
         }},
        {"STRTOK(\",,,\", \",\", &save)", "null",
         [&] {
             const auto text = ExactString(",,,");
             EXPECT_EQ(STRTOK(text.get(), ",", &save), nullptr);
         }},
        {"ChangeSymb1ToSymb2(nullptr, 'a', 'b')", "null",
         [] { EXPECT_EQ(ChangeSymb1ToSymb2(nullptr, 'a', 'b'), nullptr); }},
        {"ChangeSymb1ToSymb2(\"abc\", '\\0', 'x')", "the string, unchanged",
         [] {
             const auto text = ExactString("abc");
             EXPECT_EQ(ChangeSymb1ToSymb2(text.get(), '\0', 'x'), text.get());
             EXPECT_STREQ(text.get(), "abc");
         }},
        {"ChangeSymb1ToSymb2(\"aba\", 'a', 'a')", "the string, unchanged",
         [] {
             const auto text = ExactString("aba");
             EXPECT_STREQ(ChangeSymb1ToSymb2(text.get(), 'a', 'a'), "aba");
         }},
        {"ChangeSymb1ToSymb2(\"a\\xffb\\xff\", '\\xff', '\\0')", "cut at the first 0xff",
         [] {
             const auto text = ExactString(
                 "a\xff"
                 "b\xff");
             EXPECT_STREQ(ChangeSymb1ToSymb2(text.get(), '\xff', '\0'), "a");
             EXPECT_EQ(text.get()[3], '\xff') << "beyond the new end nothing changes";
         }},
        {"GetNextLine(nullptr, \"\\n\")", "0", [] { EXPECT_EQ(GetNextLine(nullptr, "\n"), 0); }},
        {"GetNextLine(\"ab\", nullptr)", "0",
         [] {
             char text[] = "ab";
             EXPECT_EQ(GetNextLine(text, nullptr), 0);
         }},
        {"GetNextLine(\"ab\\ncd\", \"\")", "0: an empty separator starts every text",
         [] {
             char text[] = "ab\ncd";
             EXPECT_EQ(GetNextLine(text, ""), 0);
         }},
        {"GetNextLine(1 MiB without a separator, ending its block, \"\\r\\n\")", "1 MiB",
         [] {
             const auto text = ExactString(std::string(kMiB, 'l'));
             EXPECT_EQ(GetNextLine(text.get(), "\r\n"), static_cast<int>(kMiB));
         }},
        {"GetNextLine(\"ab\\r\", \"\\r\\n\")", "3: half a separator is text",
         [] {
             const auto text = ExactString("ab\r");
             EXPECT_EQ(GetNextLine(text.get(), "\r\n"), 3);
         }},
    });
}

TEST(BadInputText, ReadFromOnconfigWithNullPointersAndExtremeFiles) {
    ifxtest::LogFile log;
    ifxtest::TempDir dir;
    const std::string config = dir.write("onconfig", "ROOTNAME rootdbs\nTAPEDEV /dev/tape");
    const std::string empty = dir.write("empty", "");
    const std::string hugeValue(kMiB, 'v');
    const std::string huge = dir.write("huge", "NAME " + hugeValue + "\n");
    const std::string nameOnly = dir.write("name-only", "# a comment\nTAPEDEV");
    const std::string longPath = "/" + std::string(5000, 'o');
    const std::string longName(size_t{100} * 1024, 'N');
    // Empty, as callers pass it, with no byte to spare after what fits.
    auto emptyValue = [](size_t size) {
        ExactBuffer value(size);
        value.data()[0] = '\0';
        return value;
    };
    auto expectFailedUntouched = [](const char* path, const char* name) {
        ExactBuffer value(16);
        EXPECT_EQ(ReadFromOnconfig(path, name, value.data()), -1);
        EXPECT_TRUE(value.untouched());
    };
    ifxtest::RunRows({
        {"ReadFromOnconfig(nullptr, \"TAPEDEV\", value)", "-1, value untouched",
         [&] { expectFailedUntouched(nullptr, "TAPEDEV"); }},
        {"ReadFromOnconfig(path, nullptr, value)", "-1, value untouched",
         [&] { expectFailedUntouched(config.c_str(), nullptr); }},
        {"ReadFromOnconfig(path, \"TAPEDEV\", nullptr)", "-1",
         [&] { EXPECT_EQ(ReadFromOnconfig(config.c_str(), "TAPEDEV", nullptr), -1); }},
        {"ReadFromOnconfig(path of 5000 characters, ...)", "-1, value untouched",
         [&] { expectFailedUntouched(longPath.c_str(), "TAPEDEV"); }},
        {"ReadFromOnconfig(a directory, ...)", "-1, value untouched",
         [&] { expectFailedUntouched(dir.path().c_str(), "TAPEDEV"); }},
        {"ReadFromOnconfig(an empty file, ...)", "-1, value untouched",
         [&] { expectFailedUntouched(empty.c_str(), "TAPEDEV"); }},
        {"ReadFromOnconfig(path, name of 100 KiB, value)", "-1, value still empty",
         [&] {
             ExactBuffer value = emptyValue(16);
             EXPECT_EQ(ReadFromOnconfig(config.c_str(), longName.c_str(), value.data()), -1);
             EXPECT_EQ(value.text(), "");
         }},
        {"ReadFromOnconfig(last line without a newline, \"TAPEDEV\", 10-byte value)",
         "0, \"/dev/tape\" and its NUL, exactly filling the value",
         [&] {
             ExactBuffer value = emptyValue(10);
             EXPECT_EQ(ReadFromOnconfig(config.c_str(), "TAPEDEV", value.data()), 0);
             EXPECT_EQ(value.text(), "/dev/tape");
         }},
        {"ReadFromOnconfig(file with a 1 MiB value, \"NAME\", 1 MiB + 1 value)", "0, whole",
         [&] {
             ExactBuffer value = emptyValue(kMiB + 1);
             EXPECT_EQ(ReadFromOnconfig(huge.c_str(), "NAME", value.data()), 0);
             EXPECT_EQ(value.text(), hugeValue);
         }},
        {"ReadFromOnconfig(file ending in the name alone, \"TAPEDEV\", value)",
         "-1, value still empty",
         [&] {
             ExactBuffer value = emptyValue(16);
             EXPECT_EQ(ReadFromOnconfig(nameOnly.c_str(), "TAPEDEV", value.data()), -1);
             EXPECT_EQ(value.text(), "");
         }},
    });
}

}  // namespace
