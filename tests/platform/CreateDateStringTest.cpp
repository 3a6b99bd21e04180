#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include <IfxLib/IfxLib.h>

#include "support/ScopedEnv.h"

namespace {

class CreateDateStringTest : public testing::Test {
  protected:
    CreateDateStringTest() : m_zone("TZ", std::string("UTC")) { ::tzset(); }
    ~CreateDateStringTest() override { ::tzset(); }

    ifxtest::ScopedEnv m_zone;
};

TEST_F(CreateDateStringTest, FormatsLocalTimeMonthFirst) {
    struct Case {
        long time;
        const char* text;
    };
    for (const Case& c :
         {Case{0, "01_01_1970-00:00:00"}, Case{951782400, "02_29_2000-00:00:00"},
          Case{1797027405, "12_11_2026-22:16:45"}, Case{253402300799, "12_31_9999-23:59:59"}}) {
        SCOPED_TRACE(c.time);
        EXPECT_STREQ(CreateDateString(c.time), c.text);
    }
}

TEST_F(CreateDateStringTest, EveryCallReturnsTheSameBuffer) {
    char* first = CreateDateString(0);
    char* second = CreateDateString(86400);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "01_02_1970-00:00:00");
}

TEST_F(CreateDateStringTest, FollowsTheProcessTimeZone) {
    ifxtest::ScopedEnv zone("TZ", std::string("UTC-2"));
    ::tzset();
    EXPECT_STREQ(CreateDateString(0), "01_01_1970-02:00:00");
}

// The C library reads TZ once unless told again: a zone the agent changes at run time,
// through the library's shim or its own setenv, must show in the next date, and so must
// the change back.
TEST_F(CreateDateStringTest, FollowsAZoneChangedAtRunTime) {
    struct Case {
        const char* zone;
        const char* text;
    };
    EXPECT_STREQ(CreateDateString(0), "01_01_1970-00:00:00");
    for (const Case& c :
         {Case{"UTC-3", "01_01_1970-03:00:00"}, Case{"UTC+5", "12_31_1969-19:00:00"},
          Case{"UTC", "01_01_1970-00:00:00"}}) {
        SCOPED_TRACE(c.zone);
        ASSERT_EQ(SETENVIRONMENTVARIABLE("TZ", c.zone), 1);
        EXPECT_STREQ(CreateDateString(0), c.text);
    }
    ::setenv("TZ", "UTC-1", 1);
    EXPECT_STREQ(CreateDateString(0), "01_01_1970-01:00:00");
}

TEST_F(CreateDateStringTest, YearsBeyondFourDigitsStayInsideTheBuffer) {
    const std::string text = CreateDateString(100000000000000L);
    EXPECT_LT(text.size(), 32u);
    EXPECT_EQ(text, "11_07_3170843-09:46:40");
}

// tm_year holds the year less 1900, so the last years the C library can convert lie
// beyond what an int can hold once the century is added back.
TEST_F(CreateDateStringTest, LastConvertibleYearsAreWrittenWhole) {
    struct Case {
        long time;
        const char* text;
    };
    for (const Case& c :
         {Case{67768036160140800L, "01_01_2147485547-00:00:00"},
          Case{67768036191676799L, "12_31_2147485547-23:59:59"}, Case{67768036191676800L, ""}}) {
        SCOPED_TRACE(c.time);
        EXPECT_STREQ(CreateDateString(c.time), c.text);
    }
}

}  // namespace
