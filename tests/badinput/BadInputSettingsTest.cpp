// The settings and identity functions with null pointers, sizes of zero, below zero and
// exactly one short, and values longer than any buffer the agent uses.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "badinput/BadInputSupport.h"
#include "childprocess/ChildTestSupport.h"
#include "support/LogFile.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

using ifxtest::ExactBuffer;

// A settings registry of our own for the length of a test.
class Registry {
  public:
    Registry() : m_root("JX_REGISTRY_DIR", m_dir.path()) {
        m_dir.write(c_ifxSubKey,
                    "exact abc\n"
                    "padded   value  \n"
                    "long " +
                        std::string(1000, 'l') +
                        "\n"
                        "item127 " +
                        std::string(127, 'i') +
                        "\n"
                        "item128 " +
                        std::string(128, 'i') + "\n");
        m_dir.write("Host", "dTEMPDIR /var/tmp/\n");
        m_dir.write("EventManager", "dEVLOGDIR /var/log/ev\n");
    }

  private:
    ifxtest::TempDir m_dir;
    ifxtest::ScopedEnv m_root;
};

TEST(BadInputSettings, RegistryItemsWithNullPointersAndSizesThatDoNotFit) {
    Registry registry;
    const std::string longName(size_t{10} * 1024, 'n');
    ifxtest::RunRows({
        {"GetRegistryItemValue(\"exact\", nullptr, 16, ...)", "-1",
         [] { EXPECT_EQ(GetRegistryItemValue("exact", nullptr, 16, nullptr, false), -1); }},
        {"GetRegistryItemValue(\"exact\", value, 0, ...)", "-1, value untouched",
         [] {
             ExactBuffer value(1);
             EXPECT_EQ(GetRegistryItemValue("exact", value.data(), 0, nullptr, false), -1);
             EXPECT_TRUE(value.untouched());
         }},
        {"GetRegistryItemValue(nullptr, value, 16, ...)", "-1, value empty",
         [] {
             ExactBuffer value(16);
             EXPECT_EQ(GetRegistryItemValue(nullptr, value.data(), 16, nullptr, false), -1);
             EXPECT_EQ(value.text(), "");
         }},
        {"GetRegistryItemValue(name of 10 KiB, value, 16, ...)", "-1, value empty",
         [&] {
             ExactBuffer value(16);
             EXPECT_EQ(GetRegistryItemValue(longName.c_str(), value.data(), 16, nullptr, false),
                       -1);
             EXPECT_EQ(value.text(), "");
         }},
        {"GetRegistryItemValue(\"exact\", 4-byte value, 4, nullptr, true)",
         "0, \"abc\" and its NUL exactly filling the value",
         [] {
             ExactBuffer value(4);
             EXPECT_EQ(GetRegistryItemValue("exact", value.data(), 4, nullptr, true), 0);
             EXPECT_EQ(value.text(), "abc");
         }},
        {"GetRegistryItemValue(\"exact\", 3-byte value, 3, ...)", "-1, value empty",
         [] {
             ExactBuffer value(3);
             EXPECT_EQ(GetRegistryItemValue("exact", value.data(), 3, "ignored", false), -1);
             EXPECT_EQ(value.text(), "");
         }},
        {"GetRegistryItemValue(\"padded\", 14-byte value, 14, ...)",
         "0, \"value\": trimmed, and it fits before the trim",
         [] {
             ExactBuffer value(14);
             EXPECT_EQ(GetRegistryItemValue("padded", value.data(), 14, nullptr, false), 0);
             EXPECT_EQ(value.text(), "value");
         }},
        {"GetRegistryItemValue(\"long\", value, 16, ...)", "-1, value empty",
         [] {
             ExactBuffer value(16);
             EXPECT_EQ(GetRegistryItemValue("long", value.data(), 16, nullptr, false), -1);
             EXPECT_EQ(value.text(), "");
         }},
        {"CheckRegistryItemValue(nullptr, false)", "0",
         [] { EXPECT_EQ(CheckRegistryItemValue(nullptr, false), 0); }},
        {"CheckRegistryItemValue(\"item127\", true)", "1: fits in 128 bytes",
         [] { EXPECT_EQ(CheckRegistryItemValue("item127", true), 1); }},
        {"CheckRegistryItemValue(\"item128\", false)", "0: does not fit in 128 bytes",
         [] { EXPECT_EQ(CheckRegistryItemValue("item128", false), 0); }},
    });
}

TEST(BadInputSettings, NamesWithNullPointersOddCountsAndExactSizes) {
    ifxtest::ScopedEnv client("JxClientName", std::string("envclient"));
    ifxtest::ScopedEnv instance("JxInstanceName", std::string(128, 'i'));
    ifxtest::CStringArray withClient({"prog", "-cn", "client", "-vm", "vm1"});
    ifxtest::CStringArray endsInOption({"prog", "-vm", "vm1", "-cn"});
    ifxtest::CStringArray endsInInstance({"prog", "-cn", "client", "-vm"});
    ifxtest::RunRows({
        {"GetClientName(1, argv, nullptr, 16)", "-1",
         [&] { EXPECT_EQ(GetClientName(1, withClient.get(), nullptr, 16), -1); }},
        {"GetInstanceName(1, argv, nullptr, 16)", "-1",
         [&] { EXPECT_EQ(GetInstanceName(1, withClient.get(), nullptr, 16), -1); }},
        {"GetClientName(3, nullptr, name, 16)", "-1, name untouched",
         [] {
             ExactBuffer name(16);
             EXPECT_EQ(GetClientName(3, nullptr, name.data(), 16), -1);
             EXPECT_TRUE(name.untouched());
         }},
        {"GetInstanceName(3, nullptr, name, 16)", "-1, name untouched",
         [] {
             ExactBuffer name(16);
             EXPECT_EQ(GetInstanceName(3, nullptr, name.data(), 16), -1);
             EXPECT_TRUE(name.untouched());
         }},
        {"GetClientName(-1, nullptr, name, 16)", "0, the name from JxClientName",
         [] {
             ExactBuffer name(16);
             EXPECT_EQ(GetClientName(-1, nullptr, name.data(), 16), 0);
             EXPECT_EQ(name.text(), "envclient");
         }},
        {"GetClientName(INT_MAX, argv ending in null, name, 16)",
         "0, \"client\": the vector ends at its null entry",
         [&] {
             ExactBuffer name(16);
             EXPECT_EQ(GetClientName(INT_MAX, withClient.get(), name.data(), 16), 0);
             EXPECT_EQ(name.text(), "client");
         }},
        {"GetClientName(5, argv, 7-byte name, 7)", "0, \"client\" and its NUL filling name",
         [&] {
             ExactBuffer name(7);
             EXPECT_EQ(GetClientName(5, withClient.get(), name.data(), 7), 0);
             EXPECT_EQ(name.text(), "client");
         }},
        {"GetClientName(5, argv, 6-byte name, 6)", "-1, name untouched",
         [&] {
             ExactBuffer name(6);
             EXPECT_EQ(GetClientName(5, withClient.get(), name.data(), 6), -1);
             EXPECT_TRUE(name.untouched());
         }},
        {"GetClientName(5, argv, name, 0)", "-1, name untouched",
         [&] {
             ExactBuffer name(1);
             EXPECT_EQ(GetClientName(5, withClient.get(), name.data(), 0), -1);
             EXPECT_TRUE(name.untouched());
         }},
        {"GetClientName(4, argv ending in \"-cn\", name, 16)", "-1",
         [&] {
             ExactBuffer name(16);
             EXPECT_EQ(GetClientName(4, endsInOption.get(), name.data(), 16), -1);
         }},
        {"GetInstanceName(4, argv ending in \"-vm\", name, 16)", "-1",
         [&] {
             ExactBuffer name(16);
             EXPECT_EQ(GetInstanceName(4, endsInInstance.get(), name.data(), 16), -1);
         }},
        {"GetInstanceName(5, argv, 4-byte name, 4)", "0, \"vm1\" and its NUL filling name",
         [&] {
             ExactBuffer name(4);
             EXPECT_EQ(GetInstanceName(5, withClient.get(), name.data(), 4), 0);
             EXPECT_EQ(name.text(), "vm1");
         }},
        {"GetInstanceName(1, argv, name, 256) with JxInstanceName of 128 characters",
         "-1, name untouched",
         [&] {
             ExactBuffer name(256);
             EXPECT_EQ(GetInstanceName(1, withClient.get(), name.data(), 256), -1);
             EXPECT_TRUE(name.untouched());
         }},
    });
}

TEST(BadInputSettings, ServerNameLongerThanTheAgentReads) {
    std::string sid = "kept";
    ifxtest::LogFile log;
    ifxtest::RunRows({
        {"GetIfxSID(sid) with INFORMIXSERVER of 511 characters", "0, the whole name",
         [&] {
             const ifxtest::ScopedEnv server("INFORMIXSERVER", std::string(511, 's'));
             EXPECT_EQ(GetIfxSID(sid), 0);
             EXPECT_EQ(sid, std::string(511, 's'));
         }},
        {"GetIfxSID(sid) with INFORMIXSERVER of 512 characters", "-1, sid unchanged",
         [&] {
             const ifxtest::ScopedEnv server("INFORMIXSERVER", std::string(512, 't'));
             sid = "kept";
             EXPECT_EQ(GetIfxSID(sid), -1);
             EXPECT_EQ(sid, "kept");
         }},
        {"GetIfxSID(sid) with INFORMIXSERVER unset", "-1, sid unchanged",
         [&] {
             const ifxtest::ScopedEnv server("INFORMIXSERVER", std::nullopt);
             EXPECT_EQ(GetIfxSID(sid), -1);
             EXPECT_EQ(sid, "kept");
         }},
    });
}

TEST(BadInputSettings, WorkingPathsWithNullPointersAndSizesThatDoNotFit) {
    Registry registry;
    using PathFunction = int (*)(char*, int);
    struct Function {
        const char* name;
        PathFunction call;
        std::string stored;  // what fits with its NUL
    };
    for (const Function& function :
         {Function{"GetOrreryBaseTempPath", GetOrreryBaseTempPath, "/var/tmp/"},
          Function{"GetOrreryLogFilesPath", GetOrreryLogFilesPath, "/var/log/ev"}}) {
        const std::string name = function.name;
        const int fits = static_cast<int>(function.stored.size() + 1);
        auto expectUntouched = [&](int size) {
            ExactBuffer path(1);
            EXPECT_EQ(function.call(path.data(), size), -1);
            EXPECT_TRUE(path.untouched());
        };
        ifxtest::RunRows({
            {name + "(nullptr, 16)", "-1", [&] { EXPECT_EQ(function.call(nullptr, 16), -1); }},
            {name + "(path, 0)", "-1, path untouched", [&] { expectUntouched(0); }},
            {name + "(path, -1)", "-1, path untouched", [&] { expectUntouched(-1); }},
            {name + "(path, INT_MIN)", "-1, path untouched", [&] { expectUntouched(INT_MIN); }},
            {name + "(path, exactly the size with the NUL)", "0, the directory",
             [&] {
                 ExactBuffer path(static_cast<size_t>(fits));
                 EXPECT_EQ(function.call(path.data(), fits), 0);
                 EXPECT_EQ(path.text(), function.stored);
             }},
            {name + "(path, one byte short)", "-1, path empty",
             [&] {
                 ExactBuffer path(static_cast<size_t>(fits - 1));
                 EXPECT_EQ(function.call(path.data(), fits - 1), -1);
                 EXPECT_EQ(path.text(), "");
             }},
        });
    }
}

}  // namespace
