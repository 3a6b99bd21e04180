#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

class WorkingPathsTest : public ::testing::Test {
  protected:
    ifxtest::TempDir m_registry;
    ifxtest::ScopedEnv m_root{"JX_REGISTRY_DIR", m_registry.path()};
};

struct PathCase {
    const char* name;
    const char* stored;  // the registry line's value; null: no such item
    int size;
    int result;
    std::string path;
};

TEST_F(WorkingPathsTest, BaseTempPathGetsATrailingSlash) {
    const std::vector<PathCase> cases = {
        {"plain directory", "/var/tmp", 64, 0, "/var/tmp/"},
        {"stored with slashes", "/var/tmp//", 64, 0, "/var/tmp/"},
        {"exactly fits", "/var/tmp", 10, 0, "/var/tmp/"},
        {"no room for the NUL", "/var/tmp", 9, -1, ""},
        {"no room for the slash", "/var/tmp", 8, -1, ""},
        {"empty value", "", 64, -1, ""},
        {"no such item", nullptr, 64, -1, ""},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_registry.write("Host", c.stored != nullptr ? std::string("dTEMPDIR ") + c.stored + "\n"
                                                     : std::string("dOTHER x\n"));
        std::vector<char> buffer(64, 'z');
        EXPECT_EQ(GetOrreryBaseTempPath(buffer.data(), c.size), c.result);
        EXPECT_EQ(std::string(buffer.data()), c.path);
    }
}

TEST_F(WorkingPathsTest, LogFilesPathIsDeliveredAsStored) {
    const std::vector<PathCase> cases = {
        {"plain", "/var/log/events", 64, 0, "/var/log/events"},
        {"blanks kept", " /var/log/events/ ", 64, 0, " /var/log/events/ "},
        {"exactly fits", "/var/log", 9, 0, "/var/log"},
        {"too long", "/var/log", 8, -1, ""},
        {"no such item", nullptr, 64, -1, ""},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_registry.write("EventManager", c.stored != nullptr
                                             ? std::string("dEVLOGDIR ") + c.stored + "\n"
                                             : std::string("dOTHER x\n"));
        std::vector<char> buffer(64, 'z');
        EXPECT_EQ(GetOrreryLogFilesPath(buffer.data(), c.size), c.result);
        EXPECT_EQ(std::string(buffer.data()), c.path);
    }
}

TEST_F(WorkingPathsTest, BufferWithoutRoomFailsUntouched) {
    m_registry.write("Host", "dTEMPDIR /var/tmp\n");
    m_registry.write("EventManager", "dEVLOGDIR /var/log\n");
    char path[4] = "abc";
    EXPECT_EQ(GetOrreryBaseTempPath(nullptr, 64), -1);
    EXPECT_EQ(GetOrreryLogFilesPath(nullptr, 64), -1);
    EXPECT_EQ(GetOrreryBaseTempPath(path, 0), -1);
    EXPECT_EQ(GetOrreryLogFilesPath(path, -1), -1);
    EXPECT_STREQ(path, "abc");
}

TEST(BundledRegistryTest, WorkingPaths) {
    ifxtest::ScopedEnv root("JX_REGISTRY_DIR", std::string(IFXLIB_EXAMPLES_DIR) + "/registry");
    char path[256] = {};
    EXPECT_EQ(GetOrreryBaseTempPath(path, sizeof path), 0);
    EXPECT_STREQ(path, "/var/tmp/orrery/");
    EXPECT_EQ(GetOrreryLogFilesPath(path, sizeof path), 0);
    EXPECT_STREQ(path, "/var/log/orrery/events");
}

}  // namespace
