#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

#include "support/LogFile.h"
#include "support/ScopedEnv.h"

namespace {

using NameLookup = int (*)(int, char**, char*, unsigned int);

struct ArgvCase {
    const char* name;
    std::vector<std::string> args;
    unsigned int size;
    int result;
    std::string buffer;  // afterwards; "keep" when untouched
};

// Runs lookup over a real, writable argument vector with a buffer that holds "keep".
void expectLookup(NameLookup lookup, const ArgvCase& c) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> storage = c.args;
    std::vector<char*> argv;
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    char buffer[256] = "keep";
    EXPECT_EQ(lookup(static_cast<int>(c.args.size()), argv.data(), buffer, c.size), c.result);
    EXPECT_EQ(std::string(buffer), c.buffer);
}

TEST(GetClientNameTest, FromTheCommandLine) {
    const std::vector<ArgvCase> cases = {
        {"fits with its NUL", {"agent", "-cn", "client7"}, 8, 0, "client7"},
        {"one byte short", {"agent", "-cn", "client7"}, 7, -1, "keep"},
        {"option last", {"agent", "-x", "-cn"}, 64, -1, "keep"},
        {"option absent keeps the buffer", {"agent", "-vm", "inst"}, 64, 0, "keep"},
        {"attached value is not the option", {"agent", "-cnclient"}, 64, 0, "keep"},
        {"first occurrence wins", {"agent", "-cn", "a", "-cn", "b"}, 64, 0, "a"},
        {"empty value", {"agent", "-cn", ""}, 1, 0, ""},
    };
    ifxtest::ScopedEnv env("JxClientName", "from-env");  // ignored: there are arguments
    for (const ArgvCase& c : cases) {
        expectLookup(GetClientName, c);
    }
}

TEST(GetInstanceNameTest, FromTheCommandLine) {
    const std::vector<ArgvCase> cases = {
        {"fits with its NUL", {"agent", "-vm", "inst1"}, 6, 0, "inst1"},
        {"one byte short", {"agent", "-vm", "inst1"}, 5, -1, "keep"},
        {"option last", {"agent", "-cn", "c", "-vm"}, 64, -1, "keep"},
        {"option absent", {"agent", "-cn", "c"}, 64, -1, "keep"},
        {"empty value", {"agent", "-vm", ""}, 1, 0, ""},
    };
    ifxtest::ScopedEnv env("JxInstanceName", "from-env");  // ignored: there are arguments
    for (const ArgvCase& c : cases) {
        expectLookup(GetInstanceName, c);
    }
}

struct EnvCase {
    const char* name;
    std::optional<std::string> variable;
    unsigned int size;
    int result;
    std::string buffer;
};

void expectFromEnvironment(NameLookup lookup, const char* variable, const EnvCase& c) {
    SCOPED_TRACE(c.name);
    ifxtest::ScopedEnv env(variable, c.variable);
    expectLookup(lookup, {c.name, {"agent"}, c.size, c.result, c.buffer});
}

TEST(GetClientNameTest, FromTheEnvironment) {
    const std::vector<EnvCase> cases = {
        {"unset", std::nullopt, 64, -1, "keep"},
        {"blanks trimmed", "  client9 \t", 64, 0, "client9"},
        {"empty value", "", 64, -1, ""},
        {"blank value", "   ", 64, -1, ""},
        {"exactly fits", "client9", 8, 0, "client9"},
        {"too long", "client9", 7, -1, "keep"},
    };
    for (const EnvCase& c : cases) {
        expectFromEnvironment(GetClientName, "JxClientName", c);
    }
}

TEST(GetInstanceNameTest, FromTheEnvironment) {
    const std::vector<EnvCase> cases = {
        {"unset", std::nullopt, 64, -1, "keep"},
        {"blanks trimmed", " inst2 ", 64, 0, "inst2"},
        {"empty value", "", 64, -1, "keep"},
        {"127 characters", std::string(127, 'i'), 128, 0, std::string(127, 'i')},
        {"128 characters", std::string(128, 'i'), 256, -1, "keep"},
        {"fits locally, not the caller", "inst2", 5, -1, "keep"},
    };
    for (const EnvCase& c : cases) {
        expectFromEnvironment(GetInstanceName, "JxInstanceName", c);
    }
}

TEST(NameLookupTest, NullBufferOrVectorFails) {
    char buffer[8] = {};
    EXPECT_EQ(GetClientName(2, nullptr, buffer, sizeof buffer), -1);
    EXPECT_EQ(GetInstanceName(2, nullptr, buffer, sizeof buffer), -1);
    char program[] = "agent";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(GetClientName(1, argv, nullptr, 8), -1);
    EXPECT_EQ(GetInstanceName(1, argv, nullptr, 8), -1);
    // With arguments but no "-cn" the buffer is never looked at: 0, as with a real one.
    char option[] = "-vm";
    char instance[] = "inst";
    char* withoutClient[] = {program, option, instance, nullptr};
    EXPECT_EQ(GetClientName(3, withoutClient, nullptr, 8), 0);
    char client[] = "-cn";
    char* withClient[] = {program, client, instance, nullptr};
    EXPECT_EQ(GetClientName(3, withClient, nullptr, 8), -1);
}

constexpr const char* kSidTag = "::GetIfxSID";

TEST(GetIfxSIDTest, ReadsTrimmedServerName) {
    ifxtest::LogFile log(2);
    ifxtest::ScopedEnv env("INFORMIXSERVER", " demo_srv ");
    std::string sid = "old";
    EXPECT_EQ(GetIfxSID(sid), 0);
    EXPECT_EQ(sid, "demo_srv");
    EXPECT_TRUE(log.has(kSidTag, "Got INFORMIXSERVER demo_srv")) << log.text();
}

TEST(GetIfxSIDTest, UnsetOrEmptyIsLoggedAndLeavesTheString) {
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>("  ")}) {
        ifxtest::LogFile log;
        ifxtest::ScopedEnv env("INFORMIXSERVER", value);
        std::string sid = "old";
        EXPECT_EQ(GetIfxSID(sid), -1);
        EXPECT_EQ(sid, "old");
        EXPECT_TRUE(log.has(
            kSidTag, "Did not set INFORMIXSERVER or INSTANCE_NAME in the client environment"))
            << log.text();
    }
}

TEST(GetIfxSIDTest, LongestNameThatFitsIsTaken) {
    ifxtest::ScopedEnv env("INFORMIXSERVER", std::string(511, 's'));
    std::string sid;
    EXPECT_EQ(GetIfxSID(sid), 0);
    EXPECT_EQ(sid, std::string(511, 's'));
}

TEST(GetIfxSIDTest, OverlongNameIsRefusedAndLogged) {
    ifxtest::LogFile log;
    ifxtest::ScopedEnv env("INFORMIXSERVER", std::string(512, 's'));
    std::string sid = "old";
    EXPECT_EQ(GetIfxSID(sid), -1);
    EXPECT_EQ(sid, "old");
    EXPECT_TRUE(
        log.has(kSidTag, "INFORMIXSERVER is 512 characters long, more than the 511 allowed"))
        << log.text();
}

}  // namespace
