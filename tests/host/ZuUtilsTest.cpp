#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include <IfxLib/platform/HostServices.h>

#include "support/TempDir.h"

namespace {

TEST(CZuFileTest, ReadsEveryByte) {
    ifxtest::TempDir dir;
    const std::string bytes("line\r\n\0binary\xff", 14);
    std::string content = "stale";
    CZuError error = CZuFile::ReadWholeFile(dir.write("f", bytes).c_str(), content);
    EXPECT_FALSE(error.IsError()) << error.AsString();
    EXPECT_EQ(content, bytes);
}

TEST(CZuFileTest, FailuresCarryTheNegatedErrnoAndATextNamingTheFile) {
    ifxtest::TempDir dir;
    struct Case {
        std::string path;
        int code;
    };
    for (const Case& c : {Case{dir.file("missing"), -ENOENT}, Case{dir.path(), -EISDIR}}) {
        SCOPED_TRACE(c.path);
        std::string content = "stale";
        CZuError error = CZuFile::ReadWholeFile(c.path.c_str(), content);
        EXPECT_TRUE(error.IsError());
        EXPECT_EQ(error.Code(), c.code);
        EXPECT_NE(std::string(error.AsString()).find(c.path), std::string::npos);
        EXPECT_EQ(content, "");
    }
    std::string content;
    EXPECT_EQ(CZuFile::ReadWholeFile(nullptr, content).Code(), -EINVAL);
}

TEST(FXStringTest, SplitKeepsOrSkipsEmptyPieces) {
    std::vector<std::string> pieces;
    FXString::Split("\na\n\nb\n", "\n", pieces, FXString::kSkipEmpty);
    EXPECT_EQ(pieces, (std::vector<std::string>{"a", "b"}));
    pieces.clear();
    FXString::Split("a\n\nb", "\n", pieces, 0);
    EXPECT_EQ(pieces, (std::vector<std::string>{"a", "", "b"}));
    pieces.clear();
    FXString::Split("", "\n", pieces, FXString::kSkipEmpty);
    EXPECT_TRUE(pieces.empty());
}

TEST(FXStringTest, TrimReplaceAllAndFindString) {
    std::string line = " \t\r value\tmore \r";
    FXString::Trim(line, " \t\r");
    EXPECT_EQ(line, "value\tmore");
    FXString::ReplaceAll(line, "\t", " ", 0);
    EXPECT_EQ(line, "value more");
    std::string blanks = " \t ";
    FXString::Trim(blanks, " \t\r");
    EXPECT_EQ(blanks, "");

    const char* text = "ONE Two";
    EXPECT_EQ(FXString::FindString(text, "Two", false), text + 4);
    EXPECT_EQ(FXString::FindString(text, "two", false), nullptr);
    EXPECT_EQ(FXString::FindString(text, "two", true), text + 4);
    EXPECT_EQ(FXString::FindString(nullptr, "x", false), nullptr);
}

TEST(ZuTrimTest, TrimBothStripsWhiteSpaceAtBothEndsOnly) {
    std::string text = " \t a  b \r\n";
    trim_both(text);
    EXPECT_EQ(text, "a  b");
    std::string blanks = "   ";
    trim_both(blanks);
    EXPECT_EQ(blanks, "");
}

TEST(JxUserTest, LooksUpUsersAndReportsAMissingOneWithENOENT) {
    JxPasswdScratch scratch;
    struct passwd* root = JX_getpwnam("root", &scratch);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->pw_uid, 0u);
    errno = 0;
    EXPECT_EQ(JX_getpwnam("no-such-user-ifxtest", &scratch), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(JX_getpwnam("", &scratch), nullptr);
}

}  // namespace
