#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

class RegistryItemsTest : public ::testing::Test {
  protected:
    RegistryItemsTest() {
        m_registry.write("InformixAgent",
                         "# agent settings\n"
                         "padded    spaced value  \n"
                         "blank    \n"
                         "alone\n"
                         "plain value\n"
                         "crlf value\r\n"
                         "long " +
                             std::string(200, 'x') +
                             "\n"
                             "plain second\n");
        m_registry.write("Host", "plain from-host\n");
    }

    ifxtest::TempDir m_registry;
    ifxtest::ScopedEnv m_root{"JX_REGISTRY_DIR", m_registry.path()};
};

struct ItemCase {
    const char* name;
    unsigned int size;
    int result;
    std::string value;
    int exists;  // what CheckRegistryItemValue says
};

TEST_F(RegistryItemsTest, ItemsAreReadTrimmed) {
    const std::vector<ItemCase> cases = {
        {"padded", 64, 0, "spaced value", 1},
        {"blank", 64, 0, "", 1},
        {"alone", 64, 0, "", 1},
        {"plain", 64, 0, "value", 1},  // the first line wins
        {"crlf", 64, 0, "value", 1},
        {"long", 201, 0, std::string(200, 'x'), 0},
        {"long", 200, -1, "", 0},  // no room for the NUL: nothing of it is delivered
        {"missing", 64, -1, "", 0},
        {"# agent", 64, -1, "", 0},
    };
    for (const ItemCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " size " + std::to_string(c.size));
        std::vector<char> buffer(c.size, 'z');
        EXPECT_EQ(GetRegistryItemValue(c.name, buffer.data(), c.size, nullptr, false), c.result);
        EXPECT_EQ(std::string(buffer.data()), c.value);
        EXPECT_EQ(CheckRegistryItemValue(c.name, false), c.exists);
    }
}

TEST_F(RegistryItemsTest, SectionArgumentIsIgnored) {
    char value[32] = {};
    EXPECT_EQ(GetRegistryItemValue("plain", value, sizeof value, "Host", true), 0);
    EXPECT_STREQ(value, "value");
}

TEST_F(RegistryItemsTest, BufferWithoutRoomFailsUntouched) {
    char value[4] = "abc";
    EXPECT_EQ(GetRegistryItemValue("plain", nullptr, 64, nullptr, false), -1);
    EXPECT_EQ(GetRegistryItemValue("plain", value, 0, nullptr, false), -1);
    EXPECT_STREQ(value, "abc");
}

TEST_F(RegistryItemsTest, MissingSectionFails) {
    ifxtest::ScopedEnv elsewhere("JX_REGISTRY_DIR", m_registry.file("nowhere"));
    char value[8] = "abc";
    EXPECT_EQ(GetRegistryItemValue("plain", value, sizeof value, nullptr, false), -1);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(CheckRegistryItemValue("plain", false), 0);
}

TEST(RegistryConstantsTest, Texts) {
    EXPECT_STREQ(c_ifxSubKey, "InformixAgent");
    EXPECT_STREQ(c_hubMaster, "Hubmaster");
}

TEST(BundledRegistryTest, AgentSectionIsReadable) {
    ifxtest::ScopedEnv root("JX_REGISTRY_DIR", std::string(IFXLIB_EXAMPLES_DIR) + "/registry");
    char value[128] = {};
    EXPECT_EQ(GetRegistryItemValue("sINFORMIXSERVER", value, sizeof value, nullptr, false), 0);
    EXPECT_STREQ(value, "demo_srv");
    EXPECT_EQ(CheckRegistryItemValue("dINFORMIXDIR", false), 1);
}

}  // namespace
