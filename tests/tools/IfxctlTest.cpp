// ifxctl end to end: the command line, and every subcommand but run, through the real
// program with real files.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/SystemPrograms.h"
#include "support/TempDir.h"
#include "tools/IfxctlRunner.h"

namespace {

using ifxtest::IfxctlResult;
using ifxtest::IfxctlRunner;

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

size_t lineCount(const std::string& text) {
    size_t lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

class IfxctlTest : public ::testing::Test {
  protected:
    IfxctlRunner ifxctl;
};

// 125, as env and timeout use it: a utility's own 2 stays its own.
TEST_F(IfxctlTest, UsageErrorsAreOneLineOnStandardErrorWithStatus125) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"backup"},
        {"--no-such-option", "date"},
        {"--log-level", "-1", "date"},
        {"--log-level", "high", "date"},
        {"run"},
        {"run", "--env", "NOEQUALS", "--", "/bin/true"},
        {"run", "--env", "=value", "--", "/bin/true"},
        {"run", "--send"},
        {"onconfig", "/etc/onconfig"},
        {"settings"},
        {"settings", "get"},
        {"split", ","},
        {"ppid", "abc"},
        {"ppid", "0"},
        {"date", "yesterday"},
        {"date", "1", "2"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE("ifxctl " + joined(args));
        const IfxctlResult result = ifxctl.Run(args);
        EXPECT_EQ(result.status, 125);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(lineCount(result.err), 1u) << result.err;
        EXPECT_EQ(result.err.rfind("ifxctl: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find("--help)"), std::string::npos) << result.err;
    }
}

TEST_F(IfxctlTest, UsageErrorsNameWhatWasWrongInTheOrderGiven) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"backup"}, "ifxctl: unknown command 'backup' (see ifxctl --help)\n"},
        {{"--user", "nobody", "run", "--", "/bin/true"},
         "ifxctl: --user is an option of 'run': give it after 'run' (see ifxctl run --help)\n"},
        {{"--commands", "settings", "list"},
         "ifxctl: --commands is an option of 'run': give it after 'run' (see ifxctl run --help)\n"},
        {{"date", "--first", "--second"},
         "ifxctl: unexpected arguments '--first' '--second' (see ifxctl date --help)\n"},
        // A bad value is named, whatever follows it.
        {{"run", "--timeout", "invalid", "--", "sleep", "0"},
         "ifxctl: --timeout: expected a duration such as 10, 1.5m, 2h or 1d, got 'invalid' (see "
         "ifxctl run --help)\n"},
        {{"run", "--kill-after=invalid", "--", "sleep", "0"},
         "ifxctl: --kill-after: expected a duration such as 10, 1.5m, 2h or 1d, got 'invalid' "
         "(see ifxctl run --help)\n"},
        {{"run", "--timeout", "42D", "--", "sleep", "0"},
         "ifxctl: --timeout: expected a duration such as 10, 1.5m, 2h or 1d, got '42D' (see "
         "ifxctl run --help)\n"},
        {{"run", "--env", "a", "--", "true"},
         "ifxctl: --env: expected NAME=VALUE, got 'a' (see ifxctl run --help)\n"},
        {{"run", "---", "--", "true"}, "ifxctl: unknown option '---' (see ifxctl run --help)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(joined(c.args));
        const IfxctlResult result = ifxctl.Run(c.args);
        EXPECT_EQ(result.status, 125);
        EXPECT_EQ(result.err, c.err);
    }
}

TEST_F(IfxctlTest, HelpOnEveryLevelGoesToStandardOutput) {
    const std::vector<std::vector<std::string>> levels = {
        {},
        {"run"},
        {"onconfig"},
        {"settings"},
        {"settings", "get"},
        {"settings", "list"},
        {"settings", "identity"},
        {"split"},
        {"ppid"},
        {"date"},
    };
    for (const auto& level : levels) {
        SCOPED_TRACE("ifxctl " + joined(level) + " --help");
        std::vector<std::string> args = level;
        args.push_back("--help");
        const IfxctlResult result = ifxctl.Run(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        const std::string usage =
            "Usage: ifxctl" + (level.empty() ? "" : " " + joined(level)) + " [OPTIONS]";
        EXPECT_NE(result.out.find(usage), std::string::npos) << result.out;
        // A terminal of 80 columns shows it without breaking a line.
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(line.size(), 80u) << line;
        }
    }
}

TEST_F(IfxctlTest, VersionNamesToolAndLibrary) {
    const IfxctlResult result = ifxctl.Run({"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "ifxctl " IFXTEST_PROJECT_VERSION " (IfxLib " IFXTEST_PROJECT_VERSION ")\n");
}

TEST_F(IfxctlTest, LogOptionsSetTheLibrarysLogFileAndLevelBeforeOrAfterTheCommand) {
    const std::string onconfig = ifxctl.dir().write("onconfig", "DBSERVERNAME srv\n");
    const std::string logFile = ifxctl.dir().file("chosen.log");
    // Level 3 is what writes the line that matched.
    const std::vector<std::vector<std::string>> cases = {
        {"--log-file", logFile, "--log-level", "3", "onconfig", onconfig, "DBSERVERNAME"},
        {"onconfig", "--log-level", "3", "--log-file", logFile, onconfig, "DBSERVERNAME"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(joined(args));
        const IfxctlResult result = ifxctl.Run(args);
        EXPECT_EQ(result.status, 0) << result.err;
        const std::string log = ifxtest::readFile(logFile);
        EXPECT_NE(log.find("[ReadFromOnconfig] Config file line: DBSERVERNAME srv"),
                  std::string::npos)
            << log;
        EXPECT_EQ(ifxtest::readFile(ifxctl.logPath()), "") << "JX_LOG_FILE was not replaced";
        ::unlink(logFile.c_str());
    }
}

class IfxctlOnconfigTest : public IfxctlTest {
  protected:
    const std::string file = ifxctl.dir().write("onconfig",
                                                "# DBSERVERNAME commented\n"
                                                "TAPEDEV   /dev/tape\n"
                                                "LTAPEDEV\t/dev/ltape # log tapes\n"
                                                "NOVALUE\n"
                                                "DBSERVERNAME srv\n");
};

TEST_F(IfxctlOnconfigTest, OneNamePrintsItsValueAlone) {
    const IfxctlResult result = ifxctl.Run({"onconfig", file, "DBSERVERNAME"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "srv\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(IfxctlOnconfigTest, SeveralNamesPrintNameAndValueLinesInTheOrderAsked) {
    const IfxctlResult result = ifxctl.Run({"onconfig", file, "LTAPEDEV", "DBSERVERNAME"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "LTAPEDEV /dev/ltape\nDBSERVERNAME srv\n");
}

TEST_F(IfxctlOnconfigTest, NameWithoutValueOrAbsentFailsAfterPrintingTheOthers) {
    const IfxctlResult result = ifxctl.Run({"onconfig", file, "NOVALUE", "LTAPEDEV", "ABSENT"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "LTAPEDEV /dev/ltape\n");
    EXPECT_EQ(result.err, "ifxctl: NOVALUE has no value in " + file +
                              "\nifxctl: ABSENT is not set in " + file + "\n");
}

// A value longer than any fixed buffer still comes out whole.
TEST_F(IfxctlOnconfigTest, LongValueComesOutWhole) {
    const std::string value(100000, 'v');
    const std::string longFile = ifxctl.dir().write("onconfig.long", "A 1\nLONG " + value + "\n");
    const IfxctlResult result = ifxctl.Run({"onconfig", longFile, "LONG"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out == value + "\n") << result.out.size() << " bytes";
}

TEST_F(IfxctlOnconfigTest, FileThatCannotBeReadIsNamedWithTheReason) {
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {ifxctl.dir().file("missing"), "No such file or directory"},
        {ifxctl.dir().path(), "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const IfxctlResult result = ifxctl.Run({"onconfig", c.path, "TAPEDEV"});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("ifxctl: cannot read " + c.path + ": " + c.reason, 0), 0u)
            << result.err;
    }
}

class IfxctlSettingsTest : public IfxctlTest {
  protected:
    IfxctlSettingsTest() {
        ::mkdir(registry.c_str(), 0700);
        ifxctl.dir().write("registry/InformixAgent",
                           "# agent settings\n"
                           "sIFXUSER   informix  \n"
                           "sEMPTY\n"
                           "sLONG " +
                               longValue + "\n");
        ifxctl.dir().write("registry/Host", "dTEMPDIR /var/tmp/orrery/\n");
        ifxctl.dir().write("registry/EventManager", "dEVLOGDIR /var/log/orrery/events\n");
    }

    IfxctlResult run(const std::vector<std::string>& args, ifxtest::EnvChanges env = {}) {
        env.emplace_back("JX_REGISTRY_DIR", registry);
        return ifxctl.Run(args, "", env);
    }

    const std::string registry = ifxctl.dir().file("registry");
    // Longer than the first buffer ifxctl tries.
    const std::string longValue = std::string(600, 'v') + "end";
};

TEST_F(IfxctlSettingsTest, GetPrintsTheTrimmedValueWhateverItsLength) {
    const struct {
        const char* name;
        std::string value;
    } cases[] = {{"sIFXUSER", "informix"}, {"sEMPTY", ""}, {"sLONG", longValue}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IfxctlResult result = run({"settings", "get", c.name});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.value + "\n");
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(IfxctlSettingsTest, GetOfAnItemThatIsNotSetFails) {
    const IfxctlResult result = run({"settings", "get", "sifxuser"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "ifxctl: sifxuser is not set in the InformixAgent settings of the "
              "registry at " +
                  registry + "\n");
}

TEST_F(IfxctlSettingsTest, ListPrintsEachItemOnceInFileOrder) {
    ifxctl.dir().write("registry/InformixAgent",
                       "# agent settings\n"
                       "sIFXUSER   informix  \n"
                       "\n"
                       "sEMPTY\n"
                       "nSTREAMS\t2\n"
                       "sIFXUSER second\n");
    const IfxctlResult result = run({"settings", "list"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "sIFXUSER informix\nsEMPTY\nnSTREAMS 2\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(IfxctlSettingsTest, SaysWhenTheRegistryOrItsSectionIsMissing) {
    const std::string noRegistry = ifxctl.dir().file("no-registry");
    const std::string noSection = ifxctl.dir().file("no-section");
    ::mkdir(noSection.c_str(), 0700);
    const struct {
        std::string root;
        std::string message;
    } cases[] = {
        {noRegistry, "ifxctl: the registry directory " + noRegistry +
                         " does not exist (JX_REGISTRY_DIR names it)\n"},
        {noSection, "ifxctl: the registry at " + noSection +
                        " has no InformixAgent section (no file " + noSection +
                        "/InformixAgent)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"settings", "get", "sIFXUSER"},
              std::vector<std::string>{"settings", "list"}}) {
            const IfxctlResult result = ifxctl.Run(args, "", {{"JX_REGISTRY_DIR", c.root}});
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, c.message);
        }
    }
}

TEST_F(IfxctlSettingsTest, IdentityFromTheEnvironmentWithoutAgentArguments) {
    const IfxctlResult result = run(
        {"settings", "identity"},
        {{"JxClientName", " client1 "}, {"JxInstanceName", "inst1"}, {"INFORMIXSERVER", "srv1"}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "client name: client1\n"
              "instance name: inst1\n"
              "Informix server: srv1\n"
              "temporary directory: /var/tmp/orrery/\n"
              "log directory: /var/log/orrery/events\n");
}

TEST_F(IfxctlSettingsTest, IdentityFromAgentArgumentsOverTheEnvironment) {
    const IfxctlResult result = run(
        {"settings", "identity", "--", "-cn", "fromargs", "-vm", "vm1"},
        {{"JxClientName", "fromenv"}, {"JxInstanceName", "fromenv"}, {"INFORMIXSERVER", "srv1"}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "client name: fromargs\n"
              "instance name: vm1\n"
              "Informix server: srv1\n"
              "temporary directory: /var/tmp/orrery/\n"
              "log directory: /var/log/orrery/events\n");
}

// Without a registry the identity is not the agent's: what can be read is shown, the
// registry named, and the status is 1 as settings list has it.
TEST_F(IfxctlSettingsTest, IdentityShowsWhatIsNotSetAndFailsWithoutARegistry) {
    // Arguments without -cn leave the client name to the agent's own default.
    const std::string none = ifxctl.dir().file("none");
    const IfxctlResult result = ifxctl.Run(
        {"settings", "identity", "--", "-x"}, "",
        {{"JX_REGISTRY_DIR", none}, {"JxClientName", "fromenv"}, {"INFORMIXSERVER", std::nullopt}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "ifxctl: the registry directory " + none +
                              " does not exist (JX_REGISTRY_DIR names it)\n");
    EXPECT_EQ(result.out,
              "client name: (not set)\n"
              "instance name: (not set)\n"
              "Informix server: (not set)\n"
              "temporary directory: (not set)\n"
              "log directory: (not set)\n");
}

TEST_F(IfxctlTest, SplitPrintsOneTokenALine) {
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"split", " ", "onbar -b  -L 0"}, "onbar\n-b\n-L\n0\n"},
        {{"split", ",;", ";a,,b;"}, "a\nb\n"},
        {{"split", "--sub", ",", ";", "a,b;c"}, "a\nb\nc\n"},
        {{"split", " ", ""}, ""},
        {{"split", " ", "   "}, ""},
        {{"split", ",", "\"a b\",c"}, "\"a b\"\nc\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(joined(c.args));
        const IfxctlResult result = ifxctl.Run(c.args);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(IfxctlTest, PpidPrintsTheParentOfAProcess) {
    IFXTEST_SKIP_WITHOUT_PROGRAM("/bin/sh");
    IFXTEST_SKIP_WITHOUT_PROGRAM("/bin/ps");
    // This test's own parent is whoever started it: ctest, a shell.
    const IfxctlResult result = ifxctl.Run({"ppid", std::to_string(::getpid())});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, std::to_string(::getppid()) + "\n");
}

TEST_F(IfxctlTest, PpidOfAProcessThatDoesNotExistFails) {
    // Above any pid_max the kernel allows.
    const std::string pid = std::to_string(INT_MAX);
    const IfxctlResult result = ifxctl.Run({"ppid", pid});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "ifxctl: no parent process id for " + pid +
                              ": no such process, or /bin/ps could not run\n");
}

TEST_F(IfxctlTest, DatePrintsTheDateStringInTheLocalTimeZone) {
    const struct {
        const char* tz;
        const char* seconds;
        const char* out;
    } cases[] = {
        {"UTC", "0", "01_01_1970-00:00:00\n"},
        {"UTC", "1700000000", "11_14_2023-22:13:20\n"},
        {"UTC-2", "0", "01_01_1970-02:00:00\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.tz) + " " + c.seconds);
        const IfxctlResult result = ifxctl.Run({"date", c.seconds}, "", {{"TZ", c.tz}});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.out);
    }
}

TEST_F(IfxctlTest, DateWithoutSecondsIsNow) {
    const IfxctlResult result = ifxctl.Run({"date"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::regex_match(result.out, std::regex(R"(\d\d_\d\d_\d{4}-\d\d:\d\d:\d\d\n)")))
        << result.out;
}

}  // namespace
