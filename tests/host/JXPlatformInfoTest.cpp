#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <string>

#include <IfxLib/platform/HostServices.h>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

class JXPlatformInfoTest : public testing::Test {
  protected:
    JXPlatformInfoTest() : m_root("JX_REGISTRY_DIR", m_dir.path()) {
        m_dir.write("Agent",
                    "# a comment line names nothing\n"
                    "\n"
                    "Plain value\n"
                    "Padded   two blanks inside and around  \n"
                    "Tabbed\tafter tab\n"
                    "Alone\n"
                    "Empty \n"
                    "WithCR value\r\n"
                    "Plain second value is never seen\n"
                    "#Commented hidden\n"
                    "PlainLonger other\n");
    }

    std::string lookup(const char* section, const char* name, int capacity, int* result) {
        std::string out(static_cast<size_t>(capacity), '@');
        int size = capacity;
        JXPlatformInfo reader;
        *result = reader.getString(section, name, out.data(), &size);
        m_sizeAfter = size;
        m_error = reader.LastError();
        return *result ? out.substr(0, out.find('\0')) : out;
    }

    ifxtest::TempDir m_dir;
    ifxtest::ScopedEnv m_root;
    int m_sizeAfter = 0;
    std::string m_error;
};

// A section file is read like any other file of the reader's: a FIFO or a device in its
// place fails at once instead of blocking or filling memory.
TEST_F(JXPlatformInfoTest, SectionThatIsNoRegularFileFailsAtOnce) {
    ASSERT_EQ(::mkfifo(m_dir.file("Fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", m_dir.file("Zero").c_str()), 0);
    for (const char* section : {"Fifo", "Zero"}) {
        SCOPED_TRACE(section);
        int result = 1;
        EXPECT_EQ(lookup(section, "Plain", 64, &result), std::string(64, '@'));
        EXPECT_EQ(result, 0);
        EXPECT_NE(m_error.find("not a regular file"), std::string::npos) << m_error;
    }
}

TEST_F(JXPlatformInfoTest, ValuesAreDeliveredVerbatim) {
    struct Case {
        const char* name;
        const char* value;
    };
    for (const Case& c :
         {Case{"Plain", "value"}, Case{"Padded", "  two blanks inside and around  "},
          Case{"Tabbed", "after tab"}, Case{"Alone", ""}, Case{"Empty", ""},
          Case{"WithCR", "value\r"}, Case{"PlainLonger", "other"}}) {
        SCOPED_TRACE(c.name);
        int result = 0;
        EXPECT_EQ(lookup("Agent", c.name, 64, &result), c.value);
        EXPECT_NE(result, 0);
    }
}

TEST_F(JXPlatformInfoTest, MissingItemsAndSectionsLeaveTheBufferUntouched) {
    struct Case {
        const char* section;
        const char* name;
        const char* errorText;
    };
    for (const Case& c :
         {Case{"Agent", "Missing", "no item"}, Case{"Agent", "Commented", "no item"},
          Case{"Agent", "Plai", "no item"}, Case{"NoSuchSection", "Plain", "No such file"},
          Case{"../Agent", "Plain", "invalid"}, Case{"Agent", "", "without"}}) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.name);
        int result = 1;
        EXPECT_EQ(lookup(c.section, c.name, 8, &result), std::string(8, '@'));
        EXPECT_EQ(result, 0);
        EXPECT_NE(m_error.find(c.errorText), std::string::npos) << m_error;
    }
}

TEST_F(JXPlatformInfoTest, TooLongValueReportsTheCapacityItNeeds) {
    int result = 1;
    EXPECT_EQ(lookup("Agent", "Plain", 5, &result), std::string(5, '@'));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(m_sizeAfter, 6);
    EXPECT_EQ(lookup("Agent", "Plain", 6, &result), "value");
    EXPECT_NE(result, 0);
}

TEST_F(JXPlatformInfoTest, ChangesAreSeenByTheNextCall) {
    int result = 0;
    EXPECT_EQ(lookup("Agent", "Plain", 16, &result), "value");
    m_dir.write("Agent", "Plain changed\n");
    EXPECT_EQ(lookup("Agent", "Plain", 16, &result), "changed");
}

TEST_F(JXPlatformInfoTest, UnreadableSectionsFailWithAReadableText) {
    ASSERT_EQ(::mkdir(m_dir.file("Directory").c_str(), 0755), 0);
    int result = 1;
    lookup("Directory", "Plain", 8, &result);
    EXPECT_EQ(result, 0);
    EXPECT_NE(m_error.find("Is a directory"), std::string::npos) << m_error;
}

TEST_F(JXPlatformInfoTest, TempDirectoryLosesTrailingSlashesButALoneSlashStays) {
    struct Case {
        const char* stored;
        const char* expected;  // null: no directory
    };
    for (const Case& c :
         {Case{"dTEMPDIR /var/tmp\n", "/var/tmp"}, Case{"dTEMPDIR /var/tmp//\n", "/var/tmp"},
          Case{"dTEMPDIR /\n", "/"}, Case{"dTEMPDIR\n", nullptr}, Case{"Other x\n", nullptr}}) {
        SCOPED_TRACE(c.stored);
        m_dir.write("Host", c.stored);
        JXPI_Base base;
        const char* directory = base.getOrreryTempDirectory();
        if (c.expected == nullptr) {
            EXPECT_EQ(directory, nullptr);
        } else {
            ASSERT_NE(directory, nullptr);
            EXPECT_STREQ(directory, c.expected);
        }
    }
}

}  // namespace
