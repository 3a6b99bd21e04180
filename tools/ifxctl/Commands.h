#pragma once

// The subcommands of ifxctl. Each returns the tool's exit status and writes its own
// messages; the command line has been checked before any of them runs.

#include <optional>
#include <string>
#include <vector>

namespace ifxctl {

// Exit statuses of the tool's own making; run otherwise exits with the utility's status.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// run: the utility could not be launched, or its status could not be learnt. Chosen
// outside the launch's own codes (77, 79, 81) and below the signal range (128 + n).
constexpr int kExitRunFailed = 125;

struct RunOptions {
    std::optional<std::string> user;
    std::vector<std::string> env;  // NAME=VALUE, checked by the parser
    std::vector<std::string> sends;
    bool direct = false;
    bool nonBlocking = false;
    std::vector<std::string> command;  // PROGRAM [ARG...]
};

int Run(const RunOptions& options);

int Onconfig(const std::string& file, const std::vector<std::string>& names);
int SettingsGet(const std::string& name);
int SettingsIdentity(const std::vector<std::string>& agentArguments);

int Split(const std::string& separators, const std::optional<std::string>& subSeparators,
          const std::string& text);
int ParentPid(int pid);
int Date(const std::optional<long>& seconds);

}  // namespace ifxctl
