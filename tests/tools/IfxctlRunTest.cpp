// ifxctl run end to end: real utilities launched by both launches, in blocking and
// non-blocking mode, fed through ifxctl's standard input, with their exit statuses.

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

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
    std::vector<std::string> command(const std::vector<std::string>& options,
                                     const std::vector<std::string>& program) const {
        std::vector<std::string> args{"run"};
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

std::string statusLine(int status) {
    return "ifxctl: exit status " + std::to_string(status) + "\n";
}

TEST_P(IfxctlRunTest, SendsTheSendTextsThenEachLineOfStandardInput) {
    // The last line has no line feed, and an empty line sends nothing.
    const IfxctlResult result =
        run({"--send", "echo one", "--send", "echo two"}, "echo three\n\necho four");
    EXPECT_EQ(result.out, "one\ntwo\nthree\nfour\n");
    EXPECT_EQ(result.err, statusLine(0));
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

TEST_P(IfxctlRunTest, ExitsWithTheUtilitysExitCode) {
    for (const int code : {1, 3, 42, 200}) {
        SCOPED_TRACE(code);
        const IfxctlResult result =
            run({"--send", "echo bye", "--send", "exit " + std::to_string(code)});
        EXPECT_EQ(result.out, "bye\n");
        EXPECT_EQ(result.err, statusLine(code));
        EXPECT_EQ(result.status, code);
    }
}

TEST_P(IfxctlRunTest, ExplainsTheLaunchsOwnExitCodes) {
    const std::string notExecutable = ifxctl.dir().write("not-executable", "#!/bin/sh\n");
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::string program;
        int status;
        const char* words;
    } cases[] = {
        {"missing program",
         {},
         ifxctl.dir().file("missing"),
         79,
         "the launch could not execute the program"},
        {"not executable", {}, notExecutable, 79, "the launch could not execute the program"},
        {"unknown user",
         {"--user", "no-such-user-ifxctl"},
         ifxtest::ChildHelperPath(),
         81,
         "the launch could not look up or switch to the user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IfxctlResult result = run(c.options, "", {c.program});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "ifxctl: exit status " + std::to_string(c.status) + ": " + c.words +
                                  " (the library's log has the reason)\n");
    }
}

TEST_P(IfxctlRunTest, ReportsAUtilityEndedByASignal) {
    const IfxctlResult result =
        run({}, "", {ifxtest::ChildHelperPath(), "--commands", "echo going", "raise 15"});
    EXPECT_EQ(result.out, "going\n");
    EXPECT_EQ(result.status, 128 + SIGTERM);
    // Only the direct launch's own waitpid can tell a signal from an exit code of 143.
    const std::string expected = GetParam().direct
                                     ? "ifxctl: exit status 143: ended by signal 15 (Terminated)\n"
                                     : "ifxctl: exit status 143: ended by signal 15 (Terminated), "
                                       "unless the utility exited with 143 itself\n";
    EXPECT_EQ(result.err, expected);
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
    EXPECT_NE(result.err.find(statusLine(3)), std::string::npos) << result.err;
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
    EXPECT_EQ(result.err, statusLine(0));
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
    EXPECT_EQ(result.err, statusLine(4));
}

TEST_P(IfxctlRunTest, KeepsTheUtilityGoingWhenStandardOutputIsGone) {
    const IfxctlRunner::Started started =
        ifxctl.Start(command({"--send", "echo lost", "--send", "echo lost too", "--send", "exit 5"},
                             {ifxtest::ChildHelperPath()}));
    ASSERT_GT(started.pid, 0);
    ::close(started.output);
    ::close(started.input);
    const IfxctlResult result = IfxctlRunner::Wait(started);
    EXPECT_EQ(result.status, 5);
    EXPECT_NE(result.err.find("ifxctl: cannot write to standard output: Broken pipe"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(statusLine(5)), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(Modes, IfxctlRunTest, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                             return std::string(info.param.name);
                         });

TEST(IfxctlRun, RefusesALaunchThatDoesNotFitTheProcessServiceBlock) {
    IfxctlRunner ifxctl;
    std::vector<std::string> args{"run"};
    for (int i = 0; i < 16; ++i) {
        args.push_back("--env");
        args.push_back("IFXCTL_" + std::to_string(i) + "=x");
    }
    args.push_back("--");
    args.push_back(ifxtest::ChildHelperPath());
    const IfxctlResult result = ifxctl.Run(args);
    EXPECT_EQ(result.status, 125);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, std::string("ifxctl: cannot launch ") + ifxtest::ChildHelperPath() +
                              ": Argument list too long (errno 7)\n");
}

}  // namespace
