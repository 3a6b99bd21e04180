#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <set>
#include <string>

#include <IfxLib/IfxLib.h>

#include "support/TempDir.h"

namespace {

using ifxtest::readFile;
using ifxtest::TempDir;

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::set<std::string> entries(const std::string& directory) {
    std::set<std::string> names;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.insert(name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

int move(const std::string& from, const std::string& to) {
    std::string source = from;
    std::string target = to;
    return jxrename(source.data(), target.data());
}

TEST(JxRenameTest, MovesTheFileAndReplacesAnExistingTarget) {
    TempDir dir;
    dir.write("from", "new");
    dir.write("to", "old");
    EXPECT_EQ(move(dir.file("from"), dir.file("to")), 0);
    EXPECT_EQ(readFile(dir.file("to")), "new");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"to"}));

    dir.write("other", "moved");
    EXPECT_EQ(move(dir.file("other"), dir.file("fresh")), 0);
    EXPECT_EQ(readFile(dir.file("fresh")), "moved");
    EXPECT_FALSE(exists(dir.file("other")));
}

TEST(JxRenameTest, FailedLinkKeepsTheTargetAndTheSource) {
    TempDir dir;
    dir.write("to", "precious");
    errno = 0;
    EXPECT_EQ(move(dir.file("missing"), dir.file("to")), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(readFile(dir.file("to")), "precious");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"to"}));
    errno = 0;
    EXPECT_EQ(move(dir.file("missing"), dir.file("missing")), -1) << "no file, no entry to keep";
    EXPECT_EQ(errno, ENOENT);

    ASSERT_EQ(::mkdir(dir.file("directory").c_str(), 0755), 0);
    EXPECT_EQ(move(dir.file("directory"), dir.file("to")), -1);
    EXPECT_EQ(readFile(dir.file("to")), "precious");
}

// A move by link finds the name taken: EEXIST, as callers test for, and both stay.
TEST(JxRenameTest, OntoADirectoryFailsWithEEXISTAndKeepsBoth) {
    TempDir dir;
    dir.write("from", "data");
    ASSERT_EQ(::mkdir(dir.file("directory").c_str(), 0755), 0);
    errno = 0;
    EXPECT_EQ(move(dir.file("from"), dir.file("directory")), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(readFile(dir.file("from")), "data");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"from", "directory"}));
}

TEST(JxRenameTest, AcrossFileSystemsFailsWithEXDEVAndKeepsBoth) {
    TempDir here;
    struct stat hereInfo {};
    struct stat shmInfo {};
    if (::stat(here.path().c_str(), &hereInfo) != 0 || ::stat("/dev/shm", &shmInfo) != 0 ||
        hereInfo.st_dev == shmInfo.st_dev) {
        GTEST_SKIP() << "needs /dev/shm on another file system than " << here.path();
    }
    char pattern[] = "/dev/shm/ifxtest-XXXXXX";
    int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "source", 6), 6);
    ::close(fd);
    here.write("to", "precious");

    errno = 0;
    EXPECT_EQ(move(pattern, here.file("to")), -1);
    EXPECT_EQ(errno, EXDEV);
    EXPECT_EQ(readFile(here.file("to")), "precious");
    EXPECT_EQ(readFile(pattern), "source");
    EXPECT_EQ(entries(here.path()), (std::set<std::string>{"to"}));
    ::unlink(pattern);
}

// One directory entry, however its path is spelled: nothing to move, nothing removed.
TEST(JxRenameTest, MovingAnEntryOntoItselfKeepsIt) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    dir.write("sub/only", "content");
    ASSERT_EQ(::symlink(dir.file("sub").c_str(), dir.file("via").c_str()), 0);
    const std::string only = dir.file("sub/only");
    struct Case {
        const char* name;
        std::string to;
    };
    for (const Case& c :
         {Case{"same path", only}, Case{"dot component", dir.path() + "/sub/./only"},
          Case{"doubled slash", dir.path() + "/sub//only"},
          Case{"dot-dot component", dir.path() + "/sub/../sub/only"},
          Case{"through a linked directory", dir.file("via/only")}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(move(only, c.to), 0);
        EXPECT_EQ(readFile(only), "content");
        EXPECT_EQ(entries(dir.file("sub")), (std::set<std::string>{"only"}));
    }
}

// Two names of one file are two entries: the move ends with the target alone, as it would
// for any other file, so that a caller finishing a half-done move gets what it asked for.
TEST(JxRenameTest, MovingOneHardLinkOntoAnotherRemovesTheSource) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("other").c_str(), 0755), 0);
    struct Case {
        const char* name;
        std::string to;
    };
    for (const Case& c : {Case{"same directory", dir.file("alias")},
                          Case{"other directory", dir.file("other/alias")}}) {
        SCOPED_TRACE(c.name);
        dir.write("from", "content");
        ASSERT_EQ(::link(dir.file("from").c_str(), c.to.c_str()), 0);
        EXPECT_EQ(move(dir.file("from"), c.to), 0);
        EXPECT_FALSE(exists(dir.file("from")));
        EXPECT_EQ(readFile(c.to), "content");
        struct stat info {};
        ASSERT_EQ(::stat(c.to.c_str(), &info), 0);
        EXPECT_EQ(info.st_nlink, 1u) << "no temporary name left behind";
        ASSERT_EQ(::unlink(c.to.c_str()), 0);
    }
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"other"}));
    EXPECT_TRUE(entries(dir.file("other")).empty());
}

TEST(JxRenameTest, SymbolicLinkAsTargetIsReplacedNotFollowed) {
    TempDir dir;
    dir.write("from", "new");
    dir.write("elsewhere", "untouched");
    ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), dir.file("to").c_str()), 0);
    EXPECT_EQ(move(dir.file("from"), dir.file("to")), 0);
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("to").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(readFile(dir.file("to")), "new");
    EXPECT_EQ(readFile(dir.file("elsewhere")), "untouched");
}

TEST(JxRenameTest, NullPathsFailWithEINVAL) {
    char path[] = "x";
    errno = 0;
    EXPECT_EQ(jxrename(nullptr, path), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(jxrename(path, nullptr), -1);
}

}  // namespace
