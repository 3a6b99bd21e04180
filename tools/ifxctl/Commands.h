#pragma once

// The subcommands of ifxctl. Each returns the tool's exit status and writes its own
// messages; the command line has been checked before any of them runs.

#include <csignal>
#include <optional>
#include <string>
#include <vector>

namespace ifxctl {

// Exit statuses of the tool's own making; run otherwise exits with the utility's status.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
// A usage error: 125 as env and timeout have it, so that a utility's own 2 stays its own.
constexpr int kExitUsage = 125;
// onconfig: the file cannot be read (grep's "trouble").
constexpr int kExitTrouble = 2;
// Every other failure of ifxctl's own, as env, nice and timeout use it (run: no such
// user, the utility could not be launched, or its status could not be learnt). 126 and
// 127 (the program cannot be executed, does not exist) are run's alone.
constexpr int kExitRunFailed = 125;
// run: the time limit ended the utility, and it needed SIGKILL (timeout's statuses).
constexpr int kExitTimedOut = 124;
constexpr int kExitKilled = 128 + 9;

struct RunOptions {
    std::optional<std::string> user;
    bool preserveEnvironment = false;  // keep HOME, SHELL, USER, LOGNAME with --user
    std::vector<std::string> env;      // NAME=VALUE, checked by the parser
    bool ignoreEnvironment = false;    // start from an empty environment, as env -i
    std::vector<std::string> unset;    // names removed from ours, as env -u
    std::optional<std::string> chdir;  // our working directory, and so the utility's
    std::vector<std::string> sends;
    bool direct = false;
    bool nonBlocking = false;
    bool commands = false;  // each line one NUL-terminated command, as WriteBuf sends it
    double timeout = 0;     // seconds until the limit's signal; 0: no time limit
    int signal = SIGTERM;   // the limit's signal (SIGTERM unless --signal)
    std::string signalName = "SIGTERM";
    double killAfter = 0;         // seconds from the first stop signal to SIGKILL; 0: never
    bool preserveStatus = false;  // the utility's status even when the time limit ended it
    bool foreground = false;      // the utility stays in our process group
    std::string timeoutText;      // the durations as given, for messages
    std::string killAfterText;
    std::vector<std::string> command;  // PROGRAM [ARG...]
};

int Run(const RunOptions& options);

// Exit statuses as grep's: 0 every value found, 1 one is absent or has no value, 2 the
// file cannot be read.
int Onconfig(const std::string& file, const std::vector<std::string>& names);
int SettingsGet(const std::string& name);
int SettingsList();
int SettingsIdentity(const std::vector<std::string>& agentArguments);

int Split(const std::string& separators, const std::optional<std::string>& subSeparators,
          const std::string& text);
int ParentPid(int pid);
int Date(const std::optional<long>& seconds);

}  // namespace ifxctl
