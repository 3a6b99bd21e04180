// The process service's calls with the error text in a caller's buffer.

#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

void ExitAtOnce(void*) {
    ::_exit(0);
}

using Start = bool (JxProcess::*)(void (*)(void*), void*, char*, int);

TEST(JxProcessAdapters, StartErrorTextIsCutToTheBufferAndTerminated) {
    const struct {
        const char* name;
        Start start;
    } starts[] = {{"Fork", &JxProcess::Fork}, {"Spawn", &JxProcess::Spawn}};
    for (const auto& s : starts) {
        SCOPED_TRACE(s.name);
        JxProcess process;
        char unused[8] = "intact";
        ASSERT_TRUE((process.*s.start)(ExitAtOnce, nullptr, unused, sizeof unused));
        EXPECT_STREQ(unused, "intact") << "untouched on success";

        char text[10];
        std::memset(text, 'x', sizeof text);
        EXPECT_FALSE((process.*s.start)(ExitAtOnce, nullptr, text, sizeof text))
            << "one child per object";
        EXPECT_EQ(errno, EBUSY);
        EXPECT_STREQ(text, "this obje");
        int status = -1;
        ASSERT_TRUE(process.WaitForProcessToEnd(&status, nullptr, -1));
        EXPECT_EQ(status, 0);
    }
}

TEST(JxProcessAdapters, WaitErrorTextIsCutToTheBufferAndTerminated) {
    JxProcess process;
    ASSERT_TRUE(process.Fork(ExitAtOnce, nullptr, nullptr, 0));

    int status = -1;
    char waitText[50] = "intact";
    ASSERT_TRUE(process.WaitForProcessToEnd(status, waitText, sizeof waitText, -1));
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(waitText, "intact");

    char shortText[5];
    EXPECT_FALSE(process.WaitForProcessToEnd(status, shortText, sizeof shortText, -1));
    EXPECT_STREQ(shortText, "the ");
    char fullText[120];
    EXPECT_FALSE(process.WaitForProcessToEnd(status, fullText, sizeof fullText, -1));
    EXPECT_STREQ(fullText, "the child was already waited for");
}

}  // namespace
