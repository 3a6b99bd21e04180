// ifxctl run end to end: real utilities launched by both launches, in blocking and
// non-blocking mode, fed through ifxctl's standard input, with their exit statuses.

#include <gtest/gtest.h>

#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <future>
#include <ostream>
#include <string>
#include <vector>

#include "support/SystemPrograms.h"
#include "tools/IfxctlRunner.h"

namespace {

using ifxtest::IfxctlResult;
using ifxtest::IfxctlRunner;

struct Mode {
    const char* name;
    std::vector<std::string> flags;
    bool direct;
};

// Names the mode in test output instead of its bytes.
void PrintTo(const Mode& mode, std::ostream* out) {
    *out << mode.name;
}

const Mode kModes[] = {
    {"WaitThread", {}, false},
    {"WaitThreadNonBlocking", {"--nonblocking"}, false},
    {"Direct", {"--direct"}, true},
    {"DirectNonBlocking", {"--direct", "--nonblocking"}, true},
};

class IfxctlRunTest : public ::testing::TestWithParam<Mode> {
  protected:
    // ifxctl run [mode flags] [options] -- program [args]
    // The helper reads NUL-terminated commands: --commands unless bytes is set.
    std::vector<std::string> command(const std::vector<std::string>& options,
                                     const std::vector<std::string>& program,
                                     bool bytes = false) const {
        std::vector<std::string> args{"run"};
        if (!bytes) {
            args.push_back("--commands");
        }
        args.insert(args.end(), GetParam().flags.begin(), GetParam().flags.end());
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("--");
        args.insert(args.end(), program.begin(), program.end());
        return args;
    }

    IfxctlResult run(const std::vector<std::string>& options, const std::string& input = "",
                     const std::vector<std::string>& program = {ifxtest::ChildHelperPath()}) {
        return ifxctl.Run(command(options, program), input);
    }

    IfxctlRunner ifxctl;
};

TEST_P(IfxctlRunTest, PassesStandardInputOnAsAPipeWouldCarryIt) {
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::string input;
        std::string output;
    } cases[] = {
        {"lines", {}, "first\nsecond\n", "got:first\ngot:second\n"},
        {"empty line and last line without newline", {}, "a\n\nb", "got:a\ngot:\ngot:b\n"},
        {"send texts first", {"--send", "one", "--send", ""}, "two\n", "got:one\ngot:\ngot:two\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IfxctlResult result = ifxctl.Run(
            command(c.options, {ifxtest::ChildHelperPath(), "--lines", "got:"}, true), c.input);
        EXPECT_EQ(result.out, c.output);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
    }
}

TEST_P(IfxctlRunTest, PassesBytesUnchangedToAFilter) {
    // NUL bytes, a carriage return and no final newline; more than a pipe holds.
    std::string input;
    for (int i = 0; i < 20000; ++i) {
        input += "line " + std::to_string(i) + std::string("\0\r\n", 3);
    }
    input += "tail";
    const IfxctlResult copy =
        ifxctl.Run(command({}, {ifxtest::ChildHelperPath(), "--copy"}, true), input);
    EXPECT_TRUE(copy.out == input) << copy.out.size() << " bytes of " << input.size();
    EXPECT_EQ(copy.status, 0) << copy.err;
}

// grep takes text with NUL bytes for binary: none must be added.
TEST_P(IfxctlRunTest, GivesGrepTextItTakesForText) {
    const char* grepPath = "/bin/grep";
    IFXTEST_SKIP_WITHOUT_PROGRAM(grepPath);
    const IfxctlResult grep = ifxctl.Run(command({}, {grepPath, "sec"}, true), "first\nsecond\n");
    EXPECT_EQ(grep.out, "second\n");
    EXPECT_EQ(grep.status, 0) << grep.err;
}

TEST_P(IfxctlRunTest, SendsTheSendTextsThenEachLineOfStandardInput) {
    // The last line has no line feed, and an empty line sends nothing.
    const IfxctlResult result =
        run({"--send", "echo one", "--send", "echo two"}, "echo three\n\necho four");
    EXPECT_EQ(result.out, "one\ntwo\nthree\nfour\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

TEST_P(IfxctlRunTest, PassesArgumentsAndEnvironmentToTheUtility) {
    const std::string helper = ifxtest::ChildHelperPath();
    const IfxctlResult result =
        run({"--env", "IFXCTL_TEST=a=b", "--env", "IFXCTL_EMPTY=", "--send", "env IFXCTL_TEST",
             "--send", "env IFXCTL_EMPTY", "--send", "args"},
            "", {helper, "-x", "two words"});
    EXPECT_EQ(result.out, "a=b\n\nargc=3|" + helper + "|-x|two words\n");
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST_P(IfxctlRunTest, KeepsTheOrderInWhichTheUtilityWroteItsTwoStreams) {
    const IfxctlResult result = run({}, "echo 1\nstderr 2\necho 3\nstderr 4\nstderr 5\necho 6\n");
    EXPECT_EQ(result.out, "1\n2\n3\n4\n5\n6\n");
    EXPECT_EQ(result.status, 0) << result.err;
}

// The utility's own exit code says all: ifxctl adds nothing, as env and timeout.
TEST_P(IfxctlRunTest, ExitsWithTheUtilitysExitCodeWithoutAWord) {
    for (const int code : {1, 3, 42, 200}) {
        SCOPED_TRACE(code);
        const IfxctlResult result =
            run({"--send", "echo bye", "--send", "exit " + std::to_string(code)});
        EXPECT_EQ(result.out, "bye\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, code);
    }
}

TEST_P(IfxctlRunTest, ChecksTheUserAndTheProgramBeforeTheLaunch) {
    const std::string notExecutable = ifxctl.dir().write("not-executable", "#!/bin/sh\n");
    const std::string missing = ifxctl.dir().file("missing");
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::string program;
        int status;
        std::string message;
    } cases[] = {
        {"unknown user",
         {"--user", "no-such-user-ifxctl"},
         ifxtest::ChildHelperPath(),
         125,
         "no such user 'no-such-user-ifxctl'"},
        {"missing program", {}, missing, 127, missing + ": No such file or directory"},
        {"missing directory",
         {},
         missing + "/program",
         127,
         missing + "/program: No such file or directory"},
        {"not executable", {}, notExecutable, 126, notExecutable + ": Permission denied"},
        {"directory", {}, ifxctl.dir().path(), 126, ifxctl.dir().path() + ": Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IfxctlResult result = run(c.options, "", {c.program});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "ifxctl: " + c.message + "\n");
    }
}

// What only the exec itself can tell comes from the library's launch report, with the
// statuses env gives: 127 for a missing interpreter, 126 for a file it cannot execute.
TEST_P(IfxctlRunTest, ReportsALaunchThatFailedInTheUtilitysProcess) {
    const std::string badInterpreter =
        ifxctl.dir().write("bad-interpreter", "#!/no/such/interpreter\n");
    const std::string noFormat = ifxctl.dir().write("no-format", std::string("\x7f\x01\x02", 3));
    for (const std::string& file : {badInterpreter, noFormat}) {
        ASSERT_EQ(::chmod(file.c_str(), 0755), 0);
    }
    const struct {
        std::string program;
        int status;
        std::string reason;
    } cases[] = {
        {badInterpreter, 127, "No such file or directory"},
        {noFormat, 126, "Exec format error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const IfxctlResult result = run({}, "", {c.program});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "ifxctl: " + c.program + ": " + c.reason + "\n");
    }
}

TEST_P(IfxctlRunTest, ALaunchCodeFromTheUtilityItselfIsItsOwn) {
    for (const int code : {77, 79, 81}) {
        SCOPED_TRACE(code);
        const IfxctlResult result =
            run({}, "", {ifxtest::ChildHelperPath(), "--exit", std::to_string(code)});
        EXPECT_EQ(result.status, code);
        EXPECT_EQ(result.err, "");
    }
}

TEST_P(IfxctlRunTest, ReportsAUtilityEndedByASignal) {
    const IfxctlResult result =
        run({}, "", {ifxtest::ChildHelperPath(), "--commands", "echo going", "raise 15"});
    EXPECT_EQ(result.out, "going\n");
    EXPECT_EQ(result.status, 128 + SIGTERM);
    // A signal ifxctl did not send: the status is all it knows.
    EXPECT_EQ(result.err, "");
}

TEST_P(IfxctlRunTest, RunsAsTheCallerWithoutUser) {
    const IfxctlResult result = run({"--send", "ids"});
    const std::string ids =
        "uid=" + std::to_string(::getuid()) + " gid=" + std::to_string(::getgid()) + " ";
    EXPECT_EQ(result.out.rfind(ids, 0), 0u) << result.out;
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST_P(IfxctlRunTest, RunsAsTheNamedUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const IfxctlResult result = run({"--user", "nobody", "--send", "ids"});
    if (result.status == 79) {
        GTEST_SKIP() << "nobody cannot execute " << ifxtest::ChildHelperPath();
    }
    const std::string ids =
        "uid=" + std::to_string(nobody->pw_uid) + " gid=" + std::to_string(nobody->pw_gid) + " ";
    EXPECT_EQ(result.out.rfind(ids, 0), 0u) << result.out;
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST_P(IfxctlRunTest, ShowsWhatTheUtilityWroteBeforeItStoppedReading) {
    // The utility closes its input at once, so the commands cannot go; its answer and its
    // status still reach the operator whichever comes first.
    const IfxctlResult result =
        run({"--send", "first", "--send", "second"}, "third\n",
            {ifxtest::ChildHelperPath(), "--commands", "close-input", "echo bye", "exit 3"});
    EXPECT_EQ(result.out, "bye\n");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "");
}

TEST_P(IfxctlRunTest, CarriesLongCommandsAndLongAnswersWithoutStalling) {
    // Each answer is larger than a pipe holds, and so is each command: while ifxctl sends
    // the next command the utility is still writing the last answer.
    std::string input, expected;
    for (char c = 'a'; c < 'f'; ++c) {
        const std::string text(size_t{200} * 1024, c);
        input += "echo " + text + "\n";
        expected += text + "\n";
    }
    const IfxctlResult result = run({}, input);
    EXPECT_EQ(result.out.size(), expected.size());
    EXPECT_TRUE(result.out == expected) << "the output differs from the commands' texts";
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST_P(IfxctlRunTest, StreamsEachAnswerBeforeTheNextLineIsRead) {
    // The next line is written only once the answer to the last one has arrived: an
    // ifxctl that held output back, or read all its input first, would stall here.
    const IfxctlRunner::Started started = ifxctl.Start(command({}, {ifxtest::ChildHelperPath()}));
    ASSERT_GT(started.pid, 0);
    std::string output;
    for (const char* word : {"one", "two", "three"}) {
        ASSERT_TRUE(ifxtest::WriteAllTo(started.input, std::string("echo ") + word + "\n"));
        EXPECT_TRUE(ifxtest::ReadUntil(started.output, output, std::string(word) + "\n")) << output;
    }
    ::close(started.input);
    EXPECT_FALSE(ifxtest::ReadUntil(started.output, output, "more"));
    ::close(started.output);
    const IfxctlResult result = IfxctlRunner::Wait(started);
    EXPECT_EQ(output, "one\ntwo\nthree\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

TEST_P(IfxctlRunTest, EndsWithTheUtilityWhileItsOwnInputStaysOpen) {
    const IfxctlRunner::Started started =
        ifxctl.Start(command({"--send", "exit 4"}, {ifxtest::ChildHelperPath()}));
    ASSERT_GT(started.pid, 0);
    // Standard input is still open on our side until ifxctl has ended.
    const IfxctlResult result = IfxctlRunner::Wait(started);
    ::close(started.input);
    ::close(started.output);
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, "");
}

// As in a pipeline into head: once standard output is gone, the utility's next write
// gets SIGPIPE, and ifxctl ends quietly with the utility's status. The utility writes
// for ever and reads nothing, as seq does.
TEST_P(IfxctlRunTest, EndsTheUtilityAsAPipelineWouldWhenStandardOutputIsGone) {
    const IfxctlRunner::Started started =
        ifxctl.Start(command({}, {ifxtest::ChildHelperPath(), "--repeat", "y"}, true), "/dev/null");
    ASSERT_GT(started.pid, 0);
    char some[16];
    EXPECT_GT(::read(started.output, some, sizeof some), 0);
    ::close(started.output);
    const IfxctlResult result = IfxctlRunner::Wait(started);
    EXPECT_EQ(result.status, 128 + SIGPIPE);
    EXPECT_EQ(result.err, "");
}

// The utility's exit ends the run, although a process it started holds the output pipe.
TEST_P(IfxctlRunTest, EndsWhenTheUtilityEndsThoughItsChildHoldsThePipe) {
    const IfxctlResult result =
        run({}, "", {ifxtest::ChildHelperPath(), "--commands", "fork-hold", "exit 6"});
    ASSERT_FALSE(result.out.empty()) << result.err;
    const pid_t holder = static_cast<pid_t>(std::stol(result.out));
    EXPECT_EQ(::kill(holder, SIGKILL), 0) << "the holder was not left running";
    EXPECT_EQ(result.status, 6);
    EXPECT_EQ(result.err, "");
}

// A stop request that another process sends to ifxctl reaches the utility, which runs as
// another user where the tests may switch, and ifxctl ends with the utility's status.
TEST_P(IfxctlRunTest, PassesStopRequestsOnAndLeavesNoUtilityBehind) {
    std::vector<std::string> options{"--send", "hold"};
    if (::geteuid() == 0) {
        options.insert(options.begin(), {"--user", "nobody"});
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        // The helper tells its pid, then holds.
        const IfxctlRunner::Started started =
            ifxctl.Start(command(options, {ifxtest::ChildHelperPath(), "--commands", "pid"}));
        ASSERT_GT(started.pid, 0);
        std::string output;
        const bool held = ifxtest::ReadUntil(started.output, output, "holding\n");
        if (held) {
            ASSERT_EQ(::kill(started.pid, signal), 0);
        }
        const IfxctlResult result = IfxctlRunner::Wait(started);
        ::close(started.input);
        ::close(started.output);
        ASSERT_TRUE(held) << output << result.err;
        EXPECT_EQ(result.status, 128 + signal) << result.err;
        const pid_t utility = static_cast<pid_t>(std::stol(output));
        EXPECT_EQ(::kill(utility, 0), -1) << "the utility outlived ifxctl";
        EXPECT_EQ(errno, ESRCH);
    }
}

// The test process adopts what ifxctl leaves behind (as a subreaper), so that a process of
// the utility's tree still alive once ifxctl has ended is a child of the test, and can be
// waited for on every kernel, without process descriptors. Set before ifxctl starts.
void AdoptOrphans() {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0) << std::strerror(errno);
}

// Once ifxctl has ended: true when pid has ended too (reaped here, or never ours, since an
// orphan of the tree would have come to us), false when it still runs after a bound that
// only a hang reaches, in which case it is killed so that nothing is left.
bool endsWithin(pid_t pid, int milliseconds) {
    auto reaped = std::async(std::launch::async, [pid] {
        int raw = 0;
        pid_t result;
        do {
            result = ::waitpid(pid, &raw, 0);
        } while (result < 0 && errno == EINTR);
    });
    if (reaped.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready) {
        return true;
    }
    ::kill(pid, SIGKILL);
    reaped.get();
    return false;
}

constexpr int kHangBound = 120 * 1000;

// A utility that ignores SIGTERM, and a process it started in its group: a stop request
// passed on, then SIGKILL --kill-after later to the whole group; ifxctl exits 137 as
// timeout does. The request goes only once the utility said it ignores SIGTERM.
TEST_P(IfxctlRunTest, KillsTheGroupOfAUtilityThatIgnoresTermAfterKillAfter) {
    AdoptOrphans();
    const IfxctlRunner::Started started =
        ifxctl.Start(command({"--kill-after", "1"}, {ifxtest::ChildHelperPath(), "--commands",
                                                     "grandchild", "ignore 15", "hold"}));
    ASSERT_GT(started.pid, 0);
    std::string output;
    const bool held = ifxtest::ReadUntil(started.output, output, "holding\n");
    const pid_t grandchild = held ? static_cast<pid_t>(std::stol(output)) : -1;
    if (held) {
        EXPECT_EQ(::kill(started.pid, SIGTERM), 0);
    }
    const IfxctlResult result = IfxctlRunner::Wait(started);
    ::close(started.input);
    ::close(started.output);
    ASSERT_TRUE(held) << output << result.err;
    EXPECT_EQ(result.status, 137) << result.err;
    EXPECT_EQ(result.err,
              "ifxctl: the utility was still running 1s after the signal passed on: it was sent "
              "SIGKILL\n");
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(endsWithin(grandchild, kHangBound)) << "a process of the utility's group was left";
}

// A utility that obeys SIGTERM ends at the time limit, whenever the signal reaches it:
// 124, or its own status with --preserve-status.
TEST_P(IfxctlRunTest, EndsAUtilityAtTheTimeLimit) {
    const struct {
        std::vector<std::string> options;
        int status;
    } cases[] = {
        {{"--timeout", "0.2"}, 124},
        {{"--timeout", "0.2", "--preserve-status"}, 128 + SIGTERM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.size());
        const IfxctlResult result =
            run(c.options, "", {ifxtest::ChildHelperPath(), "--commands", "hold"});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, "ifxctl: time limit of 0.2s reached: the utility was sent SIGTERM\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, IfxctlRunTest, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                             return std::string(info.param.name);
                         });

// The block's limits are named, with what counts against them; --direct has none.
TEST(IfxctlRun, RefusesALaunchThatDoesNotFitTheProcessServiceBlock) {
    std::vector<std::string> pairs, words{ifxtest::ChildHelperPath(), "--commands", "exit 0"};
    for (int i = 0; i < 16; ++i) {
        pairs.insert(pairs.end(), {"--env", "IFXCTL_" + std::to_string(i) + "=x"});
    }
    words.resize(20, "never run");
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::vector<std::string> command;
        const char* refusal;  // the message's start, or null for a launch that runs
    } cases[] = {
        {"variables",
         pairs,
         {ifxtest::ChildHelperPath()},
         "ifxctl: too many variables: the process service launch carries at most 15, and 1"},
        {"arguments",
         {},
         words,
         "ifxctl: too many arguments: the process service launch carries PROGRAM and at most 18 "
         "arguments, 19 given (--direct has no limit)\n"},
        {"direct", {"--direct"}, words, nullptr},
    };
    IfxctlRunner ifxctl;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"run"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("--");
        args.insert(args.end(), c.command.begin(), c.command.end());
        const IfxctlResult result = ifxctl.Run(args);
        EXPECT_EQ(result.status, c.refusal != nullptr ? 125 : 0) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(c.refusal != nullptr ? c.refusal : "", 0), 0u) << result.err;
    }
}

// Without -v or a log file named, the operator sees the utility's output and ifxctl's own
// lines alone, and the private log is gone afterwards.
TEST(IfxctlRun, IsQuietByDefaultAndLeavesNoLogBehind) {
    IfxctlRunner ifxctl;
    const std::string temporary = ifxctl.dir().file("tmp");
    ASSERT_EQ(::mkdir(temporary.c_str(), 0700), 0);
    const ifxtest::EnvChanges env{{"JX_LOG_FILE", std::nullopt}, {"TMPDIR", temporary}};
    const struct {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        int status;
    } cases[] = {
        {{"run", "--", ifxtest::ChildHelperPath(), "--commands", "echo one", "stderr two"},
         "one\ntwo\n",
         "",
         0},
        {{"run", "--", ifxtest::ChildHelperPath(), "--commands", "echo bye", "exit 3"},
         "bye\n",
         "",
         3},
        {{"run", "--", ifxctl.dir().file("missing")},
         "",
         "ifxctl: " + ifxctl.dir().file("missing") + ": No such file or directory\n",
         127},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        for (const bool direct : {false, true}) {
            std::vector<std::string> args = c.args;
            if (direct) {
                args.insert(args.begin() + 1, "--direct");
            }
            const IfxctlResult result = ifxctl.Run(args, "", env);
            EXPECT_EQ(result.out, c.out);
            EXPECT_EQ(result.err, c.err);
            EXPECT_EQ(result.status, c.status);
            EXPECT_TRUE(std::filesystem::is_empty(temporary)) << "a log file was left behind";
        }
    }
}

// An ifxctl that is not root cannot switch to another user: it says so before any launch,
// instead of leaving it to a failed setgid in the utility's process.
TEST(IfxctlRun, RefusesAnotherUserToACallerOtherThanRoot) {
    const char* setpriv = "/usr/bin/setpriv";
    if (::geteuid() != 0 || ::access(setpriv, X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv to run ifxctl as nobody";
    }
    IfxctlRunner ifxctl;
    ifxctl.WrapWith({setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
    // nobody's private log goes where nobody can write.
    const ifxtest::EnvChanges env{{"JX_LOG_FILE", std::nullopt}, {"TMPDIR", "/tmp"}};
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "process service");
        std::vector<std::string> args{"run",    "--user", "root", "--", ifxtest::ChildHelperPath(),
                                      "--exit", "0"};
        if (direct) {
            args.insert(args.begin() + 1, "--direct");
        }
        const IfxctlResult result = ifxctl.Run(args, "", env);
        EXPECT_EQ(result.status, 125);
        EXPECT_EQ(result.err, "ifxctl: only root can run a utility as another user\n");
    }
}

// As runuser has it: HOME and SHELL of the user, USER and LOGNAME for one other than root;
// --preserve-environment keeps the caller's; an --env pair still comes on top.
TEST(IfxctlRun, GivesTheUtilityTheEnvironmentOfItsUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const std::string home = nobody->pw_dir;
    const ifxtest::EnvChanges caller{{"HOME", "/caller-home"},
                                     {"SHELL", "/caller-shell"},
                                     {"USER", "caller"},
                                     {"LOGNAME", "caller"}};
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::string out;
    } cases[] = {
        // SHELL stays the caller's, as runuser -u keeps it.
        {"nobody", {"--user", "nobody"}, home + "\n/caller-shell\nnobody\nnobody\n"},
        {"root keeps USER and LOGNAME",
         {"--user", "root"},
         "/root\n/caller-shell\ncaller\ncaller\n"},
        {"preserved",
         {"--user", "nobody", "--preserve-environment"},
         "/caller-home\n/caller-shell\ncaller\ncaller\n"},
        {"pair on top",
         {"--user", "nobody", "--env", "HOME=/mine"},
         "/mine\n/caller-shell\nnobody\nnobody\n"},
        // What runuser -u sets comes back after an empty start or an unset.
        {"empty start",
         {"--user", "nobody", "--ignore-environment"},
         home + "\n<unset>\nnobody\nnobody\n"},
        {"unset",
         {"--user", "nobody", "--unset", "HOME", "--unset", "SHELL"},
         home + "\n<unset>\nnobody\nnobody\n"},
        {"no user", {}, "/caller-home\n/caller-shell\ncaller\ncaller\n"},
    };
    IfxctlRunner ifxctl;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"run"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"--", ifxtest::ChildHelperPath(), "--commands", "env HOME",
                                 "env SHELL", "env USER", "env LOGNAME"});
        const IfxctlResult result = ifxctl.Run(args, "", caller);
        if (result.status == 79) {
            GTEST_SKIP() << "nobody cannot execute " << ifxtest::ChildHelperPath();
        }
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.status, 0) << result.err;
    }
}

// A name without a slash is looked up in PATH as env and execvp look: the first entry the
// user can execute; one that is there but cannot be executed only when none can.
TEST(IfxctlRun, LooksAProgramNameUpInPath) {
    IfxctlRunner ifxctl;
    const std::filesystem::path helper = ifxtest::ChildHelperPath();
    const std::string name = helper.filename();
    const std::string refusing = ifxctl.dir().file("refusing");
    const std::string empty = ifxctl.dir().file("empty");
    ASSERT_EQ(::mkdir(refusing.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(empty.c_str(), 0755), 0);
    ifxctl.dir().write("refusing/" + name, "not a program\n");
    const std::string helperDirectory = helper.parent_path();
    const struct {
        const char* name;
        std::string path;
        std::string program;
        int status;
        std::string err;
        std::vector<std::string> options;
    } cases[] = {
        {"found after a refusal", empty + ":" + refusing + ":" + helperDirectory, name, 0, "", {}},
        // The PATH the utility gets is the one searched, as env searches it.
        {"--env PATH", refusing, name, 0, "", {"--env", "PATH=" + empty + ":" + helperDirectory}},
        {"--env PATH last",
         helperDirectory,
         name,
         127,
         "ifxctl: " + name + ": No such file or directory (looked for in PATH)\n",
         {"--env", "PATH=" + helperDirectory, "--env", "PATH=" + empty}},
        {"--unset PATH",
         empty,
         "ifxctl-no-such-program",
         127,
         "ifxctl: ifxctl-no-such-program: No such file or directory (looked for in PATH)\n",
         {"--unset", "PATH"}},
        {"refused alone",
         empty + ":" + refusing,
         name,
         126,
         "ifxctl: " + refusing + "/" + name + ": Permission denied\n",
         {}},
        {"not found",
         empty,
         name,
         127,
         "ifxctl: " + name + ": No such file or directory (looked for in PATH)\n",
         {}},
        {"a slash is a path",
         helperDirectory,
         "./no-such-" + name,
         127,
         "ifxctl: ./no-such-" + name + ": No such file or directory\n",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* launch : {"--nonblocking", "--direct"}) {
            std::vector<std::string> args{"run", launch};
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.insert(args.end(), {"--", c.program, "--commands", "args"});
            const IfxctlResult result = ifxctl.Run(args, "", {{"PATH", c.path}});
            EXPECT_EQ(result.status, c.status);
            EXPECT_EQ(result.err, c.err);
            // The utility gets its name as given.
            EXPECT_EQ(result.out, c.status == 0 ? "argc=3|" + name + "|--commands|args\n" : "");
        }
    }
}

// The time limit's SIGTERM is ignored, SIGKILL follows: 137. The limit is long enough for
// the utility to have ignored SIGTERM first even on a slow emulated machine.
TEST(IfxctlRun, KillsAUtilityThatOutlivesTheTimeLimit) {
    IfxctlRunner ifxctl;
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "process service");
        std::vector<std::string> args{"run",
                                      "--timeout",
                                      "5",
                                      "--kill-after",
                                      "0.5",
                                      "--",
                                      ifxtest::ChildHelperPath(),
                                      "--commands",
                                      "ignore 15",
                                      "hold"};
        if (direct) {
            args.insert(args.begin() + 1, "--direct");
        }
        const IfxctlResult result = ifxctl.Run(args);
        EXPECT_EQ(result.status, 137);
        EXPECT_EQ(result.out, "ignoring\nholding\n");
        EXPECT_EQ(result.err,
                  "ifxctl: time limit of 5s reached: the utility was sent SIGTERM, and SIGKILL "
                  "0.5s later\n");
    }
}

// Killed with SIGKILL, ifxctl can do nothing: the kernel ends the utility, and no file of
// ifxctl's is left.
TEST(IfxctlRun, LeavesNeitherUtilityNorLogWhenKilled) {
    AdoptOrphans();
    IfxctlRunner ifxctl;
    const std::string temporary = ifxctl.dir().file("tmp");
    ASSERT_EQ(::mkdir(temporary.c_str(), 0700), 0);
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "process service");
        std::vector<std::string> args{"run",        "--",  ifxtest::ChildHelperPath(),
                                      "--commands", "pid", "hold"};
        if (direct) {
            args.insert(args.begin() + 1, "--direct");
        }
        const IfxctlRunner::Started started =
            ifxctl.Start(args, "", {{"JX_LOG_FILE", std::nullopt}, {"TMPDIR", temporary}});
        ASSERT_GT(started.pid, 0);
        std::string output;
        const bool held = ifxtest::ReadUntil(started.output, output, "holding\n");
        const pid_t utility = held ? static_cast<pid_t>(std::stol(output)) : -1;
        if (held) {
            EXPECT_EQ(::kill(started.pid, SIGKILL), 0);
        }
        const IfxctlResult result = IfxctlRunner::Wait(started);
        ::close(started.input);
        ::close(started.output);
        ASSERT_TRUE(held) << output << result.err;
        EXPECT_EQ(result.status, 128 + SIGKILL);
        ASSERT_GT(utility, 0);
        EXPECT_TRUE(endsWithin(utility, kHangBound)) << "the utility outlived ifxctl";
        EXPECT_TRUE(std::filesystem::is_empty(temporary)) << "a file was left behind";
    }
}

// ifxctl's own lines go where -v, --log-file or the caller's JX_LOG_FILE say, or nowhere;
// the utility gets the log variables as the caller had them (one the caller lacked comes
// empty, which the log reads as unset).
TEST(IfxctlRun, GivesTheUtilityTheCallersLogVariables) {
    IfxctlRunner ifxctl;
    const std::string mine = ifxctl.dir().file("mine.log");
    const struct {
        const char* name;
        std::vector<std::string> options;
        ifxtest::EnvChanges env;
        std::string out;
    } cases[] = {
        {"caller's file", {}, {{"JX_DEBUG_LEVEL", "1"}}, ifxctl.logPath() + "\n1\n"},
        {"none", {}, {{"JX_LOG_FILE", std::nullopt}}, "\n<unset>\n"},
        {"options", {"--log-file", mine, "--log-level", "3"}, {}, ifxctl.logPath() + "\n\n"},
        {"verbose", {"-v"}, {}, ifxctl.logPath() + "\n<unset>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"run", "--", ifxtest::ChildHelperPath(), "--commands",
                                 "env JX_LOG_FILE", "env JX_DEBUG_LEVEL"});
        const IfxctlResult result = ifxctl.Run(args, "", c.env);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.status, 0) << result.err;
    }
}

// Where the utility's output and ifxctl's messages meet, as on a terminal, a message
// after output without a newline still starts a line of its own.
TEST(IfxctlRun, SpeaksOnALineOfItsOwnAfterOutputWithoutANewline) {
    IfxctlRunner ifxctl;
    const IfxctlRunner::Started started =
        ifxctl.Start({"run", "--", ifxtest::ChildHelperPath(), "--copy"}, "", {}, true);
    ASSERT_GT(started.pid, 0);
    std::string output;
    const bool copied = ifxtest::WriteAllTo(started.input, "partial") &&
                        ifxtest::ReadUntil(started.output, output, "partial");
    if (copied) {
        EXPECT_EQ(::kill(started.pid, SIGTERM), 0);
    }
    const IfxctlResult result = IfxctlRunner::Wait(started);
    ifxtest::ReadUntil(started.output, output, "the end, which never comes");
    ::close(started.input);
    ::close(started.output);
    ASSERT_TRUE(copied) << output;
    EXPECT_EQ(result.status, 128 + SIGTERM);
    EXPECT_EQ(output, "partial\nifxctl: ended by signal 15 (Terminated)\n");
}

TEST(IfxctlRun, VerboseSendsTheLibrarysLogToStandardError) {
    IfxctlRunner ifxctl;
    const IfxctlResult result =
        ifxctl.Run({"-v", "run", "--", ifxtest::ChildHelperPath(), "--commands", "echo one"}, "",
                   {{"JX_LOG_FILE", std::nullopt}});
    EXPECT_EQ(result.out, "one\n");
    EXPECT_NE(result.err.find("[IfxChildProcess::InitializeLinux]"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.status, 0);
}

}  // namespace

// Durations are read as timeout reads them: blanks and a plus before the number, and a
// limit beyond any clock (infinity, more than a double holds) is as good as none.
TEST(IfxctlRun, TakesDurationsAsTimeoutDoes) {
    const char* const durations[] = {"inf", "1.18973149535723176502e+4932", " 5", "+1d", "1e400h"};
    IfxctlRunner ifxctl;
    for (const char* duration : durations) {
        SCOPED_TRACE(duration);
        const IfxctlResult result =
            ifxctl.Run({"run", "--timeout", duration, "--kill-after", duration, "--",
                        ifxtest::ChildHelperPath(), "--exit", "7"});
        EXPECT_EQ(result.status, 7) << result.err;
        EXPECT_EQ(result.err, "");
    }
}

// With --user, the program is found as that user finds it: a directory on the way that
// the user may not search hides what is in it, unless an ACL lets the user through.
TEST(IfxctlRun, FindsTheProgramTheUserCanReach) {
    IFXTEST_SKIP_WITHOUT_PROGRAM("/bin/sh");
    if (::geteuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    IfxctlRunner ifxctl;
    ASSERT_EQ(::chmod(ifxctl.dir().path().c_str(), 0755), 0);
    const auto placeScript = [&](const std::string& directory, mode_t mode) {
        const std::string path = ifxctl.dir().file(directory);
        EXPECT_EQ(::mkdir(path.c_str(), 0755), 0);
        const std::string script =
            ifxctl.dir().write(directory + "/whoisit", "#!/bin/sh\necho " + directory + "\n");
        EXPECT_EQ(::chmod(script.c_str(), 0755), 0);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    };
    const std::string closed = placeScript("closed", 0700);
    const std::string open = placeScript("open", 0755);
    // The ACL lets nobody search a directory whose mode lets only its owner in.
    const std::string granted = placeScript("granted", 0700);
    const auto entry = [](uint16_t tag, uint16_t perm, uint32_t id) {
        std::string bytes;
        for (const uint32_t value : {uint32_t{tag}, uint32_t{perm}}) {
            bytes += static_cast<char>(value & 0xff);
            bytes += static_cast<char>(value >> 8);
        }
        for (int shift = 0; shift < 32; shift += 8) {
            bytes += static_cast<char>((id >> shift) & 0xff);
        }
        return bytes;
    };
    const std::string acl = std::string("\x02\0\0\0", 4) + entry(0x01, 7, ~0U) +
                            entry(0x02, 1, nobody->pw_uid) + entry(0x04, 0, ~0U) +
                            entry(0x10, 1, ~0U) + entry(0x20, 0, ~0U);
    const bool aclSet =
        ::setxattr(granted.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    const struct {
        const char* name;
        std::string path;
        std::string out;
        int status;
    } cases[] = {
        {"the closed directory is passed over", closed + ":" + open, "open\n", 0},
        {"nothing the user can reach", closed, "", 126},
        {"an ACL opens the way", granted + ":" + open, aclSet ? "granted\n" : "open\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IfxctlResult result =
            ifxctl.Run({"run", "--user", "nobody", "--env", "PATH=" + c.path, "--", "whoisit"});
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.out, c.out);
    }
}

// --chdir is where the utility runs, and where a relative PROGRAM is found; a directory
// that cannot be entered is ifxctl's own failure, as env -C has it.
TEST(IfxctlRun, RunsTheUtilityInTheDirectoryNamed) {
    IfxctlRunner ifxctl;
    const std::string helper = ifxtest::ChildHelperPath();
    const std::string directory = helper.substr(0, helper.rfind('/'));
    const std::string name = helper.substr(helper.rfind('/') + 1);
    const struct {
        const char* name;
        std::string chdir;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"relative program found there", directory, 0, "here\n", ""},
        {"no such directory", ifxctl.dir().file("missing"), 125, "",
         "ifxctl: cannot change the working directory to '" + ifxctl.dir().file("missing") +
             "': No such file or directory (errno 2)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IfxctlResult result =
            ifxctl.Run({"run", "--chdir", c.chdir, "--", "./" + name, "--commands", "echo here"});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }
}

// --ignore-environment and --unset as env has them; --env still comes on top.
TEST(IfxctlRun, ChangesTheUtilitysEnvironmentAsEnvDoes) {
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::string out;
    } cases[] = {
        {"empty start", {"--ignore-environment", "--env", "ADDED=b"}, "<unset>\n<unset>\nb\n"},
        {"unset", {"--unset", "GONE"}, "1\n<unset>\n<unset>\n"},
        {"unset, then a pair", {"--unset", "GONE", "--env", "GONE=back"}, "1\nback\n<unset>\n"},
    };
    IfxctlRunner ifxctl;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"run"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"--", ifxtest::ChildHelperPath(), "--commands", "env KEPT",
                                 "env GONE", "env ADDED"});
        const IfxctlResult result = ifxctl.Run(args, "", {{"KEPT", "1"}, {"GONE", "1"}});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.out);
    }
}
