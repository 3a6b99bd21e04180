#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

#include "FailingMalloc.h"
#include "support/LogFile.h"

namespace {

constexpr int kUnwritten = 12345;
constexpr long kPointer = sizeof(char*);

struct FailureCase {
    int failAt;         // which malloc of the call fails
    long bytes;         // the request that failed, as logged
    const char* tag;    // who logs it
    int expectedCount;  // what the builder leaves in its count
};

std::string failedMessage(long bytes) {
    return "error: malloc of " + std::to_string(bytes) + " bytes failed";
}

// Runs one builder call with the n-th malloc failing and checks what the caller sees:
// no array, the count, one log line, and no block left behind.
template <typename Build>
void expectCleanFailure(const FailureCase& c, Build build) {
    SCOPED_TRACE("malloc " + std::to_string(c.failAt) + " fails");
    ifxtest::LogFile log;
    int count = kUnwritten;
    failing_malloc::arm(c.failAt);
    char** tokens = build(&count);
    const failing_malloc::Report report = failing_malloc::disarm();

    EXPECT_EQ(tokens, nullptr);
    EXPECT_EQ(count, c.expectedCount);
    EXPECT_EQ(report.calls, c.failAt) << "no allocation after the failure";
    EXPECT_EQ(report.liveBlocks, 0u) << "blocks leaked";
    EXPECT_TRUE(log.has(c.tag, failedMessage(c.bytes))) << log.text();
    EXPECT_EQ(log.lines().size(), 1u) << log.text();
}

// "alpha beta gamma": working array of 16 / 2 + 1 pointers, the working copy, three
// tokens, the result array of three pointers.
TEST(SplitAllocationFailureTest, CommandLineToArgvReleasesEverything) {
    const std::vector<FailureCase> cases = {
        {1, 9 * kPointer, "CommandLineToArgv", kUnwritten},
        {2, 17, "split", -1},
        {3, 6, "split", -1},
        {4, 5, "split", -1},
        {5, 6, "split", -1},
        {6, 3 * kPointer, "CommandLineToArgv", 3},
    };
    for (const FailureCase& c : cases) {
        expectCleanFailure(
            c, [](int* count) { return CommandLineToArgv("alpha beta gamma", count, " "); });
    }
}

// "a,b;c": working array of 5 / 2 + 1 pointers, the working copy, tokens a, b and c, the
// result array.
TEST(SplitAllocationFailureTest, SplitLineReleasesEverything) {
    const std::vector<FailureCase> cases = {
        {1, 3 * kPointer, "SplitLine", kUnwritten},
        {2, 6, "split", -1},
        {3, 2, "split", -1},
        {4, 2, "split", -1},
        {5, 2, "split", -1},
        {6, 3 * kPointer, "SplitLine", 3},
    };
    for (const FailureCase& c : cases) {
        expectCleanFailure(c, [](int* count) { return SplitLine("a,b;c", count, ";", ","); });
    }
}

TEST(SplitAllocationFailureTest, WithoutFailureOnlyTheResultReachesTheCaller) {
    int count = 0;
    failing_malloc::arm(0);
    char** tokens = CommandLineToArgv("alpha beta gamma", &count, " ");
    const failing_malloc::Report report = failing_malloc::disarm();

    ASSERT_NE(tokens, nullptr);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(report.calls, 6);
    EXPECT_EQ(report.liveBlocks, 4u) << "three tokens and the array";
    free_split_array(count, tokens);
}

TEST(SplitAllocationFailureTest, SplitKeepsTokensMadeBeforeTheFailure) {
    ifxtest::LogFile log;
    char** tokens = static_cast<char**>(std::calloc(4, sizeof(char*)));
    ASSERT_NE(tokens, nullptr);
    failing_malloc::arm(3);  // the working copy, "a", then "b" fails
    const int result = split("a b c", tokens, " ");
    const failing_malloc::Report report = failing_malloc::disarm();

    EXPECT_EQ(result, -1);
    ASSERT_NE(tokens[0], nullptr);
    EXPECT_STREQ(tokens[0], "a");
    EXPECT_EQ(tokens[1], nullptr);
    EXPECT_EQ(report.liveBlocks, 1u) << "only the caller's token \"a\"";
    EXPECT_TRUE(log.has("split", failedMessage(2))) << log.text();
    free_split_array(4, tokens);
}

TEST(SplitAllocationFailureTest, FailedWorkingCopyIsLogged) {
    ifxtest::LogFile log;
    char* tokens[4] = {};
    failing_malloc::arm(1);
    const int result = split("a;b c", tokens, ";", " ");
    const failing_malloc::Report report = failing_malloc::disarm();

    EXPECT_EQ(result, -1);
    EXPECT_EQ(report.liveBlocks, 0u);
    EXPECT_TRUE(log.has("split", failedMessage(6))) << log.text();
}

}  // namespace
