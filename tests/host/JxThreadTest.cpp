#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include <IfxLib/platform/HostServices.h>

namespace {

void* markDone(void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
    return nullptr;
}

TEST(JxThreadTest, RunsTheEntryAndJoinsOnce) {
    std::atomic<bool> done{false};
    JxThread thread;
    EXPECT_EQ(thread.join(), EINVAL);
    ASSERT_EQ(thread.createThread(markDone, &done), 0);
    EXPECT_TRUE(thread.joinable());
    EXPECT_EQ(thread.createThread(markDone, &done), EBUSY);
    EXPECT_EQ(thread.join(), 0);
    EXPECT_TRUE(done.load());
    EXPECT_FALSE(thread.joinable());
    EXPECT_EQ(thread.join(), EINVAL);
}

TEST(JxThreadTest, DestructorThroughTheBaseJoinsAThreadNobodyJoined) {
    std::atomic<bool> done{false};
    struct Derived : JxThread {};
    JxThread* thread = new Derived;
    ASSERT_EQ(thread->createThread(markDone, &done), 0);
    delete thread;
    EXPECT_TRUE(done.load());
}

}  // namespace
