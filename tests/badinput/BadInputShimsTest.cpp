// The Windows-style shims with null pointers, sizes of zero and exactly one short, values
// of a megabyte, process ids that cannot exist, times no calendar holds and paths longer
// than the system takes.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "badinput/BadInputSupport.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

using ifxtest::ExactBuffer;

constexpr size_t kMiB = size_t{1} << 20;

TEST(BadInputShims, GetEnvironmentVariableWithNullPointersAndSizesThatDoNotFit) {
    const ifxtest::ScopedEnv set("IFXBAD_VALUE", std::string("abc"));
    const ifxtest::ScopedEnv empty("IFXBAD_EMPTY", std::string());
    const ifxtest::ScopedEnv unset("IFXBAD_UNSET", std::nullopt);
    const std::string hugeValue(kMiB, 'h');
    const ifxtest::ScopedEnv huge("IFXBAD_HUGE", hugeValue);
    auto expectUntouched = [](const char* name, size_t bufferSize, unsigned int size,
                              unsigned int result) {
        ExactBuffer buffer(bufferSize);
        EXPECT_EQ(GETENVIRONMENTVARIABLE(name, buffer.data(), size), result);
        EXPECT_TRUE(buffer.untouched());
    };
    ifxtest::RunRows({
        {"GETENVIRONMENTVARIABLE(nullptr, buffer, 16)", "0, buffer untouched",
         [&] { expectUntouched(nullptr, 16, 16, 0); }},
        {"GETENVIRONMENTVARIABLE(\"\", buffer, 16)", "0: not set, buffer untouched",
         [&] { expectUntouched("", 16, 16, 0); }},
        {"GETENVIRONMENTVARIABLE(unset name, buffer, 16)", "0, buffer untouched",
         [&] { expectUntouched("IFXBAD_UNSET", 16, 16, 0); }},
        {"GETENVIRONMENTVARIABLE(\"IFXBAD_VALUE\", nullptr, 16)", "4: the size it needs",
         [] { EXPECT_EQ(GETENVIRONMENTVARIABLE("IFXBAD_VALUE", nullptr, 16), 4u); }},
        {"GETENVIRONMENTVARIABLE(\"IFXBAD_VALUE\", buffer, 0)", "4, buffer untouched",
         [&] { expectUntouched("IFXBAD_VALUE", 1, 0, 4); }},
        {"GETENVIRONMENTVARIABLE(\"IFXBAD_VALUE\", 3-byte buffer, 3)",
         "4: no room for the NUL, buffer untouched",
         [&] { expectUntouched("IFXBAD_VALUE", 3, 3, 4); }},
        {"GETENVIRONMENTVARIABLE(\"IFXBAD_VALUE\", 4-byte buffer, 4)", "3, \"abc\" and its NUL",
         [] {
             ExactBuffer buffer(4);
             EXPECT_EQ(GETENVIRONMENTVARIABLE("IFXBAD_VALUE", buffer.data(), 4), 3u);
             EXPECT_EQ(buffer.text(), "abc");
         }},
        {"GETENVIRONMENTVARIABLE(\"IFXBAD_EMPTY\", buffer, 0)", "1, buffer untouched",
         [&] { expectUntouched("IFXBAD_EMPTY", 1, 0, 1); }},
        {"GETENVIRONMENTVARIABLE(1 MiB value, 1 MiB + 1 buffer, 1 MiB + 1)", "1 MiB, whole",
         [&] {
             ExactBuffer buffer(kMiB + 1);
             EXPECT_EQ(GETENVIRONMENTVARIABLE("IFXBAD_HUGE", buffer.data(), kMiB + 1), kMiB);
             EXPECT_EQ(buffer.text(), hugeValue);
         }},
        {"GETENVIRONMENTVARIABLE(1 MiB value, 1 MiB buffer, 1 MiB)", "1 MiB + 1, buffer untouched",
         [&] { expectUntouched("IFXBAD_HUGE", kMiB, kMiB, kMiB + 1); }},
    });
}

// C code often hands putenv a string literal; the environment entry is then read-only
// memory, and reading the variable must not write to it.
TEST(BadInputShims, GetEnvironmentVariableOnAReadOnlyEntry) {
    auto readOnlyEntry = []() -> std::string {
        const long page = ::sysconf(_SC_PAGESIZE);
        void* memory = ::mmap(nullptr, static_cast<size_t>(page), PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            return "mmap failed";
        }
        char* entry = static_cast<char*>(memory);
        static const char kEntry[] = "IFXBAD_READONLY=value";
        std::memcpy(entry, kEntry, sizeof kEntry);
        if (::mprotect(memory, static_cast<size_t>(page), PROT_READ) != 0 || ::putenv(entry) != 0) {
            return "cannot set up the read-only entry";
        }
        char buffer[16] = {};
        const unsigned int length = GETENVIRONMENTVARIABLE("IFXBAD_READONLY", buffer, 16);
        if (length != 5 || std::strcmp(buffer, "value") != 0) {
            return "read " + std::to_string(length) + " \"" + buffer + "\"";
        }
        return "";
    };
    SCOPED_TRACE("GETENVIRONMENTVARIABLE on a read-only entry  ->  its length, no crash");
    EXPECT_TRUE(ifxtest::SurvivesInAChild(readOnlyEntry));
}

TEST(BadInputShims, SetEnvironmentVariableWithNullPointersAndHugeValues) {
    const std::string hugeValue(kMiB, 'h');
    ifxtest::RunRows({
        {"SETENVIRONMENTVARIABLE(nullptr, \"v\")", "0",
         [] { EXPECT_EQ(SETENVIRONMENTVARIABLE(nullptr, "v"), 0); }},
        {"SETENVIRONMENTVARIABLE(\"IFXBAD_SET\", nullptr)", "0, nothing set",
         [] {
             ::unsetenv("IFXBAD_SET");
             EXPECT_EQ(SETENVIRONMENTVARIABLE("IFXBAD_SET", nullptr), 0);
             EXPECT_EQ(std::getenv("IFXBAD_SET"), nullptr);
         }},
        {"SETENVIRONMENTVARIABLE(\"IFXBAD_SET\", \"\")", "1, set to the empty string",
         [] {
             EXPECT_EQ(SETENVIRONMENTVARIABLE("IFXBAD_SET", ""), 1);
             EXPECT_STREQ(std::getenv("IFXBAD_SET"), "");
             ::unsetenv("IFXBAD_SET");
         }},
        {"SETENVIRONMENTVARIABLE(\"IFXBAD_SET\", 1 MiB value)", "1, whole",
         [&] {
             EXPECT_EQ(SETENVIRONMENTVARIABLE("IFXBAD_SET", hugeValue.c_str()), 1);
             const char* value = std::getenv("IFXBAD_SET");
             EXPECT_TRUE(value != nullptr && value == hugeValue);
             ::unsetenv("IFXBAD_SET");
         }},
    });
}

TEST(BadInputShims, GetParentPidOfProcessesThatCannotExist) {
    for (int pid : {-1, 0, INT_MIN, INT_MAX}) {
        SCOPED_TRACE("GET_PARENTPID(" + std::to_string(pid) + ")  ->  -1");
        EXPECT_EQ(GET_PARENTPID(pid), -1);
    }
}

// The largest time the C library can turn into a calendar date: its year is just below
// INT_MAX + 1900.
long LargestConvertibleTime() {
    long low = 0;
    long high = LONG_MAX;
    while (low < high) {
        const long middle = low + (high - low) / 2 + 1;
        const time_t t = static_cast<time_t>(middle);
        struct tm broken {};
        if (::localtime_r(&t, &broken) != nullptr) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

TEST(BadInputShims, CreateDateStringOfTimesNoCalendarHolds) {
    char* const buffer = CreateDateString(0);
    auto expectShortText = [buffer](long time) {
        char* text = CreateDateString(time);
        EXPECT_EQ(text, buffer) << "always the one static buffer";
        EXPECT_NE(std::memchr(text, '\0', 32), nullptr) << "terminated inside its 32 bytes";
    };
    ifxtest::RunRows({
        {"CreateDateString(LONG_MAX)", "the static buffer, a text within its 32 bytes",
         [&] { expectShortText(LONG_MAX); }},
        {"CreateDateString(LONG_MIN)", "the static buffer, a text within its 32 bytes",
         [&] { expectShortText(LONG_MIN); }},
        {"CreateDateString(the largest time localtime converts)",
         "the date with its real year, no arithmetic overflow",
         [] {
             const long time = LargestConvertibleTime();
             const time_t t = static_cast<time_t>(time);
             struct tm broken {};
             ASSERT_NE(::localtime_r(&t, &broken), nullptr);
             char expected[64];
             std::snprintf(expected, sizeof expected, "%02d_%02d_%lld-%02d:%02d:%02d",
                           broken.tm_mon + 1, broken.tm_mday, broken.tm_year + 1900LL,
                           broken.tm_hour, broken.tm_min, broken.tm_sec);
             auto format = [&]() -> std::string {
                 const std::string text = CreateDateString(time);
                 return text == expected ? "" : "\"" + text + "\" instead of \"" + expected + "\"";
             };
             // Undefined behaviour aborts a sanitized build: the row runs in a child.
             EXPECT_TRUE(ifxtest::SurvivesInAChild(format));
         }},
    });
}

TEST(BadInputShims, JxRenameWithNullPointersAndOverlongPaths) {
    ifxtest::TempDir dir;
    const std::string longPath = dir.path() + "/" + std::string(5000, 'r');
    auto expectKept = [&](const std::string& from, const std::string& to, int error) {
        const std::string source = dir.write("source", "S");
        const std::string target = dir.write("target", "T");
        std::string fromPath = from.empty() ? source : from;
        std::string toPath = to.empty() ? target : to;
        errno = 0;
        EXPECT_EQ(jxrename(fromPath.data(), toPath.data()), -1);
        EXPECT_EQ(errno, error);
        EXPECT_EQ(ifxtest::readFile(source), "S");
        EXPECT_EQ(ifxtest::readFile(target), "T");
    };
    ifxtest::RunRows({
        {"jxrename(nullptr, to)", "-1, errno EINVAL",
         [&] {
             std::string to = dir.file("target");
             errno = 0;
             EXPECT_EQ(jxrename(nullptr, to.data()), -1);
             EXPECT_EQ(errno, EINVAL);
         }},
        {"jxrename(from, nullptr)", "-1, errno EINVAL",
         [&] {
             std::string from = dir.file("source");
             errno = 0;
             EXPECT_EQ(jxrename(from.data(), nullptr), -1);
             EXPECT_EQ(errno, EINVAL);
         }},
        {"jxrename(source path of 5000 characters, target)",
         "-1, errno ENAMETOOLONG, the target kept",
         [&] { expectKept(longPath, "", ENAMETOOLONG); }},
        {"jxrename(source, target path of 5000 characters)",
         "-1, errno ENAMETOOLONG, the source kept",
         [&] { expectKept("", longPath, ENAMETOOLONG); }},
    });
}

}  // namespace
