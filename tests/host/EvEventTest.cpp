#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <IfxLib/platform/HostServices.h>

#include "support/LogFile.h"
#include "support/SystemCallFailure.h"

namespace {

using ifxtest::LogFile;
using ifxtest::LogLine;

TEST(EvEventTest, WritesOneLineWithTagInBracketsAndTheExactMessage) {
    LogFile log;
    EvEvent event;
    EvDebug::Debug(&event, " Leading::Tag", "value %d and '%s' ", 42, "text");

    std::vector<LogLine> lines = log.lines();
    ASSERT_EQ(lines.size(), 1u) << log.text();
    EXPECT_EQ(lines[0].tag, " Leading::Tag");
    EXPECT_EQ(lines[0].message, "value 42 and 'text' ");
    EXPECT_EQ(lines[0].pid, ::getpid());
}

// Lines carry environment values, so a log file the logger creates is its owner's alone,
// whatever the umask lets through; one that exists keeps the mode its owner chose.
TEST(EvEventTest, CreatesTheLogFileForItsOwnerAloneAndLeavesAnExistingModeAlone) {
    ifxtest::TempDir dir;
    const std::string existing = dir.write("existing.log", "");
    ASSERT_EQ(::chmod(existing.c_str(), 0644), 0);
    const mode_t savedMask = ::umask(0);
    for (const auto& [path, mode] : {std::pair<std::string, mode_t>{dir.file("new.log"), 0600},
                                     std::pair<std::string, mode_t>{existing, 0644}}) {
        SCOPED_TRACE(path);
        const ifxtest::ScopedEnv file("JX_LOG_FILE", path);
        EvEvent event;
        EvDebug::Debug(&event, "Tag", "line");
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
        EXPECT_NE(ifxtest::readFile(path).find("[Tag] line"), std::string::npos);
    }
    ::umask(savedMask);
}

TEST(EvEventTest, DebugLvlWritesOnlyWhenTheLevelReachesIt) {
    struct Case {
        int configured;
        int asked;
        bool written;
    };
    for (const Case& c : {Case{0, 1, false}, Case{2, 2, true}, Case{2, 3, false}, Case{12, 3, true},
                          Case{0, 0, true}}) {
        SCOPED_TRACE("configured " + std::to_string(c.configured) + ", asked " +
                     std::to_string(c.asked));
        LogFile log(c.configured);
        EvEvent event;
        EvDebug::DebugLvl(&event, "Tag", c.asked, "message");
        EXPECT_EQ(log.has("Tag", "message"), c.written);
    }
}

TEST(EvEventTest, LevelIsTakenWhenTheEventIsConstructed) {
    LogFile log(0);
    EvEvent event;
    ::setenv("JX_DEBUG_LEVEL", "5", 1);
    EvDebug::DebugLvl(&event, "Tag", 2, "filtered");
    EvEvent later;
    EvDebug::DebugLvl(&later, "Tag", 2, "written");
    EXPECT_FALSE(log.has("Tag", "filtered"));
    EXPECT_TRUE(log.has("Tag", "written"));
}

TEST(EvEventTest, NullEventWritesNothingAndErrnoSurvivesLogging) {
    LogFile log;
    EvDebug::Debug(nullptr, "Tag", "nothing");
    EvEvent event;
    errno = ENOENT;
    EvDebug::Debug(&event, "Tag", "something");
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(EvEventTest, LongLinesAreCutAt4KiB) {
    LogFile log;
    EvEvent event;
    std::string longText(10000, 'x');
    EvDebug::Debug(&event, "Tag", "%s", longText.c_str());
    EvDebug::Debug(&event, "Tag", "after");
    std::string text = log.text();
    std::string::size_type firstEnd = text.find('\n');
    EXPECT_EQ(firstEnd + 1, 4096u);
    EXPECT_TRUE(log.has("Tag", "after"));
}

// A message is the printf result with its control characters escaped: whatever a value
// holds, one call stays one line and cannot start a line of its own.
TEST(EvEventTest, ControlCharactersOfTheMessageAreEscaped) {
    struct Case {
        const char* name;
        std::string value;
        std::string logged;
    };
    const Case cases[] = {
        {"newline", "two\nlines", "two\\nlines"},
        {"carriage return", "cr\r", "cr\\r"},
        {"tab stays", "a\tb", "a\tb"},
        {"other controls and DEL", "\x01\x1b[0m\x1f\x7f", "\\x01\\x1b[0m\\x1f\\x7f"},
        {"bytes above 0x7f stay", "caf\xc3\xa9 \xff", "caf\xc3\xa9 \xff"},
        {"forged line", "v\n2026-01-01 00:00:00.000000 1 1 [Forged] root login",
         "v\\n2026-01-01 00:00:00.000000 1 1 [Forged] root login"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogFile log;
        EvEvent event;
        EvDebug::Debug(&event, "Tag", "env=%s.", c.value.c_str());
        const std::vector<LogLine> lines = log.lines();
        ASSERT_EQ(lines.size(), 1u) << log.text();
        EXPECT_EQ(lines[0].message, "env=" + c.logged + ".");
        const std::string text = log.text();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    }
}

TEST(EvEventTest, ANulInsideTheMessageIsEscapedNotTakenForItsEnd) {
    LogFile log;
    EvEvent event;
    EvDebug::Debug(&event, "Tag", "a%cb", '\0');
    EXPECT_TRUE(log.has("Tag", "a\\x00b")) << log.text();
}

// Escapes make a message longer; the line still stops at 4 KiB, and never inside an escape.
TEST(EvEventTest, EscapedLinesAreCutAt4KiBBetweenEscapes) {
    for (const std::string& filler : {std::string(5000, '\n'), std::string(5000, '\x01')}) {
        LogFile log;
        EvEvent event;
        EvDebug::Debug(&event, "Tag", "%s", filler.c_str());
        const std::string text = log.text();
        ASSERT_LE(text.size(), 4096u);
        ASSERT_EQ(text.back(), '\n');
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
        const std::string escape = filler[0] == '\n' ? "\\n" : "\\x01";
        const std::string message = text.substr(text.find("] ") + 2, std::string::npos);
        const std::string body = message.substr(0, message.size() - 1);
        EXPECT_EQ(body.size() % escape.size(), 0u) << "an escape was cut";
        EXPECT_EQ(body.find_first_not_of(escape), std::string::npos);
        EXPECT_GT(text.size() + escape.size(), 4096u) << "the line is filled";
    }
}

// A launched child hands its standard error to the program; from then on its lines go to
// the descriptor it names instead, or nowhere.
TEST(EvEventTest, TheFallbackReplacesStandardErrorWhenTheFileCannotBeUsed) {
    ifxtest::TempDir dir;
    const int fallback = ::open(dir.file("fallback").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fallback, 0);
    struct Case {
        const char* name;
        std::optional<std::string> logFile;
    };
    const Case cases[] = {
        {"no log file", std::nullopt},
        {"log file cannot be opened", dir.file("missing/ifx.log")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ifxtest::ScopedEnv file("JX_LOG_FILE", c.logFile);
        testing::internal::CaptureStderr();
        {
            EvEvent event;
            EvDebug::DebugWithFallback(&event, fallback, "Tag", "to the fallback");
            EvDebug::DebugLvlWithFallback(&event, -1, "Tag", 0, "to nowhere");
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    ::close(fallback);
    const std::string written = ifxtest::readFile(dir.file("fallback"));
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2) << written;
    EXPECT_EQ(written.find("to nowhere"), std::string::npos);
}

TEST(EvEventTest, WithoutLogFileLinesGoToStandardError) {
    ifxtest::ScopedEnv noFile("JX_LOG_FILE", std::nullopt);
    testing::internal::CaptureStderr();
    {
        EvEvent event;
        EvDebug::Debug(&event, "Tag", "to stderr");
    }
    std::string captured = testing::internal::GetCapturedStderr();
    EXPECT_NE(captured.find("[Tag] to stderr\n"), std::string::npos) << captured;
}

// A child closes every descriptor before exec and may open others under the same
// numbers; its lines must still reach the file and never the stranger.
TEST(EvEventTest, LineReachesTheFileAfterAllDescriptorsAboveTwoWereClosed) {
    LogFile log;
    ifxtest::TempDir dir;
    EvEvent event;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close_range(3, ~0U, 0);
        // Give every low number to another file, the kept descriptor's number among them.
        int stranger = ::open(dir.file("stranger").c_str(), O_WRONLY | O_CREAT, 0644);
        for (int fd = stranger + 1; fd < 256; ++fd) {
            ::dup2(stranger, fd);
        }
        EvDebug::Debug(&event, "Child", "after closing everything");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(log.has("Child", "after closing everything")) << log.text();
    EXPECT_EQ(ifxtest::readFile(dir.file("stranger")), "");
}

// The kept descriptor is checked with fstat before it is released. A check that fails for
// want of kernel memory says nothing about whose descriptor it is: it is still released.
TEST(EvEventTest, ReleasesItsDescriptorWhenTheCheckFailsForWantOfMemory) {
    LogFile log;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The event takes the lowest free number.
        const int kept = ::dup(STDIN_FILENO);
        ::close(kept);
        auto* event = new EvEvent();
        if (::fcntl(kept, F_GETFD) < 0) {
            ::_exit(3);  // the event did not keep the file open
        }
        if (ifxtest::FailSystemCalls(
                {
#ifdef SYS_fstat
                    SYS_fstat,
#endif
#ifdef SYS_newfstatat
                    SYS_newfstatat,
#endif
#ifdef SYS_statx
                    SYS_statx,
#endif
                },
                ENOMEM) != 0) {
            ::_exit(2);
        }
        delete event;
        ::_exit(::fcntl(kept, F_GETFD) < 0 && errno == EBADF ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "no seccomp filters here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the descriptor was left open";
}

TEST(EvEventTest, LinesOfThreadsAndForkedChildrenNeverInterleave) {
    LogFile log;
    EvEvent event;
    constexpr int kThreads = 4;
    constexpr int kChildren = 3;
    constexpr int kLinesEach = 300;
    const std::string payload(1500, 'p');  // large lines make torn writes likely

    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kLinesEach; ++i) {
                EvDebug::Debug(&event, "Child", "%d %s", i, payload.c_str());
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&event, &payload] {
            for (int i = 0; i < kLinesEach; ++i) {
                EvDebug::Debug(&event, "Thread", "%d %s", i, payload.c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    }

    std::vector<LogLine> lines = log.lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>((kThreads + kChildren) * kLinesEach));
    std::set<long> writers;
    for (const LogLine& line : lines) {
        ASSERT_EQ(line.message.substr(line.message.find(' ') + 1), payload);
        writers.insert(line.tid);
    }
    EXPECT_EQ(writers.size(), static_cast<size_t>(kThreads + kChildren));
}

}  // namespace
