#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
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
