#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <IfxLib/IfxLib.h>

#include "support/ScopedEnv.h"

namespace {

using ifxtest::ScopedEnv;

constexpr const char* kName = "IFXTEST_SHIM_VARIABLE";

TEST(GetEnvironmentVariableTest, TrimsTheValueInTheEnvironmentAndReportsTheLength) {
    struct Case {
        const char* stored;
        unsigned int size;
        unsigned int result;
        const char* buffer;  // what the buffer holds afterwards
        const char* environment;
    };
    for (const Case& c :
         {Case{"  abc ", 16, 3, "abc", "abc"}, Case{"  abc ", 4, 3, "abc", "abc"},
          Case{"  abc ", 3, 4, "#######", "abc"}, Case{"", 1, 0, "", ""}, Case{"   ", 8, 0, "", ""},
          Case{"", 0, 1, "#######", ""}, Case{"\tx y\n", 8, 3, "x y", "x y"}}) {
        SCOPED_TRACE(std::string("'") + c.stored + "' size " + std::to_string(c.size));
        ScopedEnv variable(kName, std::string(c.stored));
        char buffer[8] = "#######";
        EXPECT_EQ(GETENVIRONMENTVARIABLE(kName, buffer, c.size), c.result);
        EXPECT_STREQ(buffer, c.buffer);
        EXPECT_STREQ(std::getenv(kName), c.environment);
    }
}

// An environment entry on a read-only page, as putenv of a string literal makes one: the
// page is the process's, not the library's, to write.
class ReadOnlyEntry {
  public:
    explicit ReadOnlyEntry(const std::string& entry)
        : m_size(static_cast<size_t>(::sysconf(_SC_PAGESIZE))),
          m_page(
              ::mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {
        if (m_page == MAP_FAILED) {
            ADD_FAILURE() << "mmap: " << errno;
            return;
        }
        char* text = static_cast<char*>(m_page);
        m_text = text;
        entry.copy(text, m_size - 1);
        text[entry.size()] = '\0';
        EXPECT_EQ(::mprotect(m_page, m_size, PROT_READ), 0);
        EXPECT_EQ(::putenv(text), 0);
    }
    ~ReadOnlyEntry() {
        // Out of the environment before the page goes away.
        ::unsetenv(kName);
        if (m_page != MAP_FAILED) {
            ::munmap(m_page, m_size);
        }
    }
    ReadOnlyEntry(const ReadOnlyEntry&) = delete;
    ReadOnlyEntry& operator=(const ReadOnlyEntry&) = delete;

    // The entry as the page holds it.
    const char* text() const { return m_text; }

  private:
    size_t m_size;
    void* m_page;
    const char* m_text = "";
};

TEST(GetEnvironmentVariableTest, ValueWithNothingToTrimIsOnlyRead) {
    ScopedEnv restore(kName, std::nullopt);
    for (const char* value : {"abc", "", "a b"}) {
        SCOPED_TRACE(value);
        ReadOnlyEntry entry(std::string(kName) + "=" + value);
        char buffer[8] = "#######";
        EXPECT_EQ(GETENVIRONMENTVARIABLE(kName, buffer, sizeof buffer), std::strlen(value));
        EXPECT_STREQ(buffer, value);
        EXPECT_STREQ(std::getenv(kName), value);
    }
}

// A value that needs trimming in an entry the library must not write: later readers still
// see it trimmed, through an entry that replaced it.
TEST(GetEnvironmentVariableTest, ReadOnlyValueToTrimIsReplacedNotWritten) {
    ScopedEnv restore(kName, std::nullopt);
    const std::string entryText = std::string(kName) + "=  a ";
    ReadOnlyEntry entry(entryText);
    char buffer[8] = "#######";
    EXPECT_EQ(GETENVIRONMENTVARIABLE(kName, buffer, sizeof buffer), 1u);
    EXPECT_STREQ(buffer, "a");
    EXPECT_STREQ(std::getenv(kName), "a");
    EXPECT_EQ(entry.text(), entryText);
}

TEST(GetEnvironmentVariableTest, UnsetVariableAndNullArgumentsLeaveTheBufferAlone) {
    ScopedEnv variable(kName, std::nullopt);
    char buffer[8] = "#######";
    EXPECT_EQ(GETENVIRONMENTVARIABLE(kName, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "#######");
    EXPECT_EQ(GETENVIRONMENTVARIABLE(nullptr, buffer, sizeof buffer), 0u);

    ScopedEnv set(kName, std::string("abc"));
    EXPECT_EQ(GETENVIRONMENTVARIABLE(kName, nullptr, 16), 4u) << "null buffer holds nothing";
}

TEST(SetEnvironmentVariableTest, AddsTheValueUnchanged) {
    ScopedEnv restore(kName, std::nullopt);
    for (const char* value : {"", " spaced value ", "a=b"}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(SETENVIRONMENTVARIABLE(kName, value), 1);
        ASSERT_NE(std::getenv(kName), nullptr);
        EXPECT_STREQ(std::getenv(kName), value);
    }
}

TEST(SetEnvironmentVariableTest, NullArgumentsFailWithEINVAL) {
    errno = 0;
    EXPECT_EQ(SETENVIRONMENTVARIABLE(nullptr, "v"), 0);
    EXPECT_EQ(GETLASTERROR(), EINVAL);
    EXPECT_EQ(SETENVIRONMENTVARIABLE(kName, nullptr), 0);
}

}  // namespace
