#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

// A file of size bytes that ends in 'x' and holds zeros before it, without writing them.
// A size the file system cannot hold becomes 1 GiB.
std::string sparseFile(const std::string& path, off_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0) << path;
    if (::ftruncate(fd, size) != 0) {
        size = off_t{1} << 30;
        EXPECT_EQ(::ftruncate(fd, size), 0) << path;
    }
    EXPECT_EQ(::pwrite(fd, "x", 1, size - 1), 1) << path;
    ::close(fd);
    return path;
}

// What a path names is the file's owner's choice, and the reader runs as root: nothing it
// names may block the caller, exhaust its memory or end it. Each case fails at once.
TEST(CZuFileTest, RefusesWhatIsNoRegularFileOrIsLargerThanTheBound) {
    ifxtest::TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir.file("zero");
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    const off_t bound = static_cast<off_t>(CZuFile::kMaxFileBytes);
    struct Case {
        const char* name;
        std::string path;
        int code;
    };
    for (const Case& c :
         {Case{"a FIFO nobody writes", fifo, -EINVAL},
          Case{"a symbolic link to /dev/zero", zero, -EINVAL},
          Case{"a directory", dir.path(), -EISDIR},
          Case{"a huge sparse file", sparseFile(dir.file("huge"), off_t{1} << 40), -EFBIG},
          Case{"one byte over the bound", sparseFile(dir.file("over"), bound + 1), -EFBIG}}) {
        SCOPED_TRACE(c.name);
        std::string content = "stale";
        const CZuError error = CZuFile::ReadWholeFile(c.path.c_str(), content);
        EXPECT_EQ(error.Code(), c.code) << error.AsString();
        EXPECT_NE(std::string(error.AsString()).find(c.path), std::string::npos);
        EXPECT_EQ(content, "");
    }
}

TEST(CZuFileTest, ReadsAFileOfExactlyTheBound) {
    ifxtest::TempDir dir;
    const std::string path =
        sparseFile(dir.file("bound"), static_cast<off_t>(CZuFile::kMaxFileBytes));
    std::string content;
    const CZuError error = CZuFile::ReadWholeFile(path.c_str(), content);
    EXPECT_FALSE(error.IsError()) << error.AsString();
    ASSERT_EQ(content.size(), CZuFile::kMaxFileBytes);
    EXPECT_EQ(content.back(), 'x');
    EXPECT_EQ(content.find_first_not_of('\0'), content.size() - 1);
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

// Bodies in the installed header: a program that includes it alone links.
TEST(FXStringTest, CompareLeftIsZeroExactlyForAPrefix) {
    EXPECT_EQ(FXString::CompareLeft("abc", ""), 0);
    EXPECT_EQ(FXString::CompareLeft("# comment", "#"), 0);
    EXPECT_EQ(FXString::CompareLeft("abc", "abc"), 0);
    EXPECT_NE(FXString::CompareLeft(" #", "#"), 0);
    EXPECT_NE(FXString::CompareLeft("ab", "abc"), 0);
    EXPECT_NE(FXString::CompareLeft("", "#"), 0);
    EXPECT_LT(FXString::CompareLeft("abc", "abd"), 0);
    EXPECT_GT(FXString::CompareLeft("abd", "abc"), 0);
}

TEST(FXStringTest, FindStringPointsIntoTheString) {
    const std::string line = "TAPEDEV /dev/tape # TAPEDEV";
    const char* found = FXString::FindString(line, "/dev", false);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found - line.c_str(), 8);
    EXPECT_EQ(FXString::FindString(line, "LTAPEDEV", false), nullptr);
    EXPECT_EQ(FXString::FindString(line, "tapedev", false), nullptr);
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
