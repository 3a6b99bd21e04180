// ifxctl: the library's public functions from the command line, for the people who run
// and debug backup agents.

#include <stdlib.h>
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "Duration.h"
#include "HelpFormatter.h"
#include "Launch.h"
#include "LibraryLog.h"
#include "Output.h"

namespace {

const char kDescription[] =
    "Runs the functions of IfxLib from the command line: launch an Informix utility the "
    "way the backup agent does and talk to it, read ONCONFIG values, the agent's settings "
    "and identity, split text into tokens, call the process and date shims.\n"
    "The library's log is discarded unless -v sends it to standard error or --log-file (or "
    "JX_LOG_FILE) names a file; the settings registry is read from JX_REGISTRY_DIR (default "
    "/etc/jxregistry).";

const char kRunFooter[] =
    "PROGRAM is looked up when its name has no slash, as env does, in the PATH the utility "
    "gets, and as its user reaches it (directory search permission, ACLs). --ignore-environment, "
    "--unset and --chdir apply to ifxctl itself first, then the log variables are set. "
    "Standard input "
    "reaches the utility unchanged, as a pipe would carry it; each --send text goes first, "
    "with a newline added. With --commands each line goes instead without its newline as "
    "one NUL-terminated command (an empty line sends nothing), for utilities that split "
    "their input at the NUL. At the end of standard input the utility's input is closed. "
    "The utility runs in a process group of its own (unless --foreground), which signals "
    "reach as a whole; the kernel ends it if ifxctl is killed. "
    "Its standard output and standard error arrive on one pipe and are copied to standard "
    "output as they come, by a thread of ifxctl's own, 64 KiB at most at a time: a reader "
    "that stalls holds up the utility, never the time limit or the signals. When standard "
    "output is closed (head), the utility's pipes are closed too. The run ends when the "
    "utility has ended and standard output has taken what its pipe held by then; a process "
    "it started that still holds the pipe is not waited for. When ifxctl signalled the "
    "utility, it writes only what standard output takes without waiting; the rest is "
    "dropped and counted. SIGINT, SIGTERM and SIGHUP sent to ifxctl, from the terminal too, are "
    "passed "
    "on to the utility, each signal but SIGKILL followed by SIGCONT; Ctrl-Z stops ifxctl "
    "alone.\n"
    "Exit status: the utility's own (its exit code, or 128 + the signal that ended it); "
    "124 when the time limit ended it, 137 when it needed SIGKILL; 125 for a usage error, "
    "no such user or another failure of ifxctl's own, 126 when the program cannot be "
    "executed, 127 when it is not found.";

const CLI::Validator kEnvPair(
    [](std::string& pair) -> std::string {
        const size_t equals = pair.find('=');
        if (equals == std::string::npos || equals == 0) {
            return "expected NAME=VALUE, got '" + pair + "'";
        }
        return "";
    },
    "");

const CLI::Validator kVariableName(
    [](std::string& name) -> std::string {
        return name.empty() || name.find('=') != std::string::npos
                   ? "expected a variable's name, got '" + name + "'"
                   : "";
    },
    "");

// The signals by name, with or without SIG, or by number, as kill and timeout take them.
const struct {
    const char* name;
    int number;
} kSignals[] = {
    {"HUP", SIGHUP},       {"INT", SIGINT},   {"QUIT", SIGQUIT},   {"ILL", SIGILL},
    {"TRAP", SIGTRAP},     {"ABRT", SIGABRT}, {"BUS", SIGBUS},     {"FPE", SIGFPE},
    {"KILL", SIGKILL},     {"USR1", SIGUSR1}, {"SEGV", SIGSEGV},   {"USR2", SIGUSR2},
    {"PIPE", SIGPIPE},     {"ALRM", SIGALRM}, {"TERM", SIGTERM},   {"CHLD", SIGCHLD},
    {"CONT", SIGCONT},     {"STOP", SIGSTOP}, {"TSTP", SIGTSTP},   {"TTIN", SIGTTIN},
    {"TTOU", SIGTTOU},     {"URG", SIGURG},   {"XCPU", SIGXCPU},   {"XFSZ", SIGXFSZ},
    {"VTALRM", SIGVTALRM}, {"PROF", SIGPROF}, {"WINCH", SIGWINCH}, {"IO", SIGIO},
    {"PWR", SIGPWR},       {"SYS", SIGSYS},
};

// The signal's number and its name for messages ("SIGTERM", "signal 40"), or nothing.
std::optional<std::pair<int, std::string>> parseSignal(std::string text) {
    if (!text.empty() && std::all_of(text.begin(), text.end(), ::isdigit)) {
        if (text.size() > 3) {
            return std::nullopt;
        }
        const int number = std::stoi(text);
        for (const auto& known : kSignals) {
            if (known.number == number) {
                return std::make_pair(number, std::string("SIG") + known.name);
            }
        }
        if (number >= SIGRTMIN && number <= SIGRTMAX) {
            return std::make_pair(number, "signal " + text);
        }
        return std::nullopt;
    }
    std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    if (text.compare(0, 3, "SIG") == 0) {
        text.erase(0, 3);
    }
    for (const auto& known : kSignals) {
        if (text == known.name) {
            return std::make_pair(known.number, std::string("SIG") + known.name);
        }
    }
    return std::nullopt;
}

const CLI::Validator kSignal(
    [](std::string& text) -> std::string {
        return parseSignal(text)
                   ? ""
                   : "expected a signal such as TERM, SIGINT or 9, got '" + text + "'";
    },
    "");

const CLI::Validator kDuration(
    [](std::string& text) -> std::string {
        return ifxctl::ParseDuration(text)
                   ? ""
                   : "expected a duration such as 10, 1.5m, 2h or 1d, got '" + text + "'";
    },
    "");

// A count of 0 or more, without the range in the help text.
const CLI::Validator kNonNegative = CLI::Range(0, INT_MAX).description("");

// The subcommand that has an option of that name, if one has.
const CLI::App* ownerOfOption(const CLI::App& app, const std::string& option) {
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        for (const CLI::Option* known : command->get_options()) {
            if (known->check_name(option)) {
                return command;
            }
        }
        if (const CLI::App* deeper = ownerOfOption(*command, option)) {
            return deeper;
        }
    }
    return nullptr;
}

// The words the parser did not take, in the order given.
std::vector<std::string> extras(const CLI::App& app, int argc, char** argv) {
    std::vector<std::string> left = app.remaining(true);
    std::vector<std::string> ordered;
    for (int i = 1; i < argc; ++i) {
        const auto found = std::find(left.begin(), left.end(), argv[i]);
        if (found != left.end()) {
            ordered.push_back(*found);
            left.erase(found);
        }
    }
    return ordered;
}

// True when option comes on the command line before the word command, or without it.
bool givenBefore(const std::string& option, const std::string& command, int argc, char** argv) {
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
        if (argv[i] == command) {
            return false;
        }
        if (argv[i] == option) {
            return true;
        }
    }
    return false;
}

// The first word before "--" that has the form of a long option and that no command knows.
std::optional<std::string> unknownLongOption(const CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            break;
        }
        if (word.size() <= 2 || word.compare(0, 2, "--") != 0) {
            continue;
        }
        const std::string name = word.substr(0, word.find('='));
        const std::vector<const CLI::Option*> own = app.get_options();
        const bool known = ownerOfOption(app, name) != nullptr ||
                           std::any_of(own.begin(), own.end(), [&](const CLI::Option* option) {
                               return option->check_name(name);
                           });
        if (!known) {
            return word;
        }
    }
    return std::nullopt;
}

// The help asked for, on standard output; anything else wrong with the command line is
// one line on standard error and exit status 125.
int finishParse(const CLI::App& app, const CLI::ParseError& error, int argc, char** argv) {
    const std::string name = error.get_name();
    if (name == "CallForHelp" || name == "CallForAllHelp" || name == "CallForVersion") {
        return app.exit(error);
    }
    std::string message = error.what();
    std::string helpCommand = "ifxctl";
    for (const CLI::App* level = &app; !level->get_subcommands().empty();) {
        level = level->get_subcommands().front();
        helpCommand += " " + level->get_name();
    }
    const std::vector<std::string> unexpected = extras(app, argc, argv);
    const std::optional<std::string> unknown = unknownLongOption(app, argc, argv);
    if (name == "ValidationError" || name == "ConversionError") {
        // The parser names the option and the value; what it left unparsed is no news.
    } else if (unknown &&
               std::find(unexpected.begin(), unexpected.end(), *unknown) == unexpected.end()) {
        // Taken by the parser for a word of the command it blames instead.
        message = "unknown option '" + *unknown + "'";
    } else if (app.get_subcommands().empty() && !unexpected.empty() &&
               unexpected.front()[0] != '-') {
        // An unknown first word reads to the parser as a missing subcommand.
        message = "unknown command '" + unexpected.front() + "'";
    } else if (!unexpected.empty()) {
        const std::string& first = unexpected.front();
        const CLI::App* owner = first[0] == '-' ? ownerOfOption(app, first) : nullptr;
        if (owner != nullptr && givenBefore(first, owner->get_name(), argc, argv)) {
            message = first + " is an option of '" + owner->get_name() + "': give it after '" +
                      owner->get_name() + "'";
            helpCommand = "ifxctl " + owner->get_name();
        } else {
            message = "unexpected argument";
            message += unexpected.size() > 1 ? "s" : "";
            for (const std::string& word : unexpected) {
                message += " '" + word + "'";
            }
        }
    }
    ifxctl::Complain(message + " (see " + helpCommand + " --help)");
    return ifxctl::kExitUsage;
}

int dispatch(int argc, char** argv) {
    CLI::App app{kDescription, "ifxctl"};
    app.formatter(std::make_shared<ifxctl::HelpFormatter>());
    app.set_version_flag("--version", "ifxctl " IFXCTL_VERSION " (IfxLib " IFXCTL_VERSION ")");
    app.require_subcommand(1);
    app.fallthrough();

    ifxctl::LogOptions log;
    app.add_option("--log-level", log.level,
                   "Trace level of the library's log (sets JX_DEBUG_LEVEL): 2 traces launches "
                   "and pipe traffic, 3 also the ONCONFIG line found")
        ->type_name("N")
        ->check(kNonNegative);
    app.add_option("--log-file", log.file,
                   "File the library's log lines are appended to (sets JX_LOG_FILE)")
        ->type_name("PATH");
    app.add_flag("-v,--verbose", log.verbose,
                 "The library's log on standard error (unless --log-file names a file)");

    ifxctl::RunOptions run;
    CLI::App* runCommand = app.add_subcommand(
        "run", "Launch a utility as the agent does, pass it standard input, stream its output");
    runCommand->footer(kRunFooter);
    runCommand
        ->add_option("--user", run.user,
                     "Run the utility as this user (needs root); default: the user running "
                     "ifxctl")
        ->type_name("NAME");
    runCommand->add_flag("--preserve-environment", run.preserveEnvironment,
                         "With --user, keep HOME, USER and LOGNAME as they are instead of "
                         "setting them for that user (SHELL always stays)");
    runCommand->add_option("--env", run.env, "Set this variable for the utility (repeatable)")
        ->type_name("NAME=VALUE")
        ->check(kEnvPair)
        ->allow_extra_args(false);
    runCommand->add_flag("--ignore-environment", run.ignoreEnvironment,
                         "Start from an empty environment (as env -i); --env, and with --user "
                         "HOME, USER and LOGNAME, still come on top");
    runCommand
        ->add_option("--unset", run.unset,
                     "Remove this variable from the utility's environment (repeatable; with "
                     "--user, HOME, USER and LOGNAME are set again unless "
                     "--preserve-environment)")
        ->type_name("NAME")
        ->check(kVariableName)
        ->allow_extra_args(false);
    runCommand
        ->add_option("--chdir", run.chdir,
                     "Run the utility in this working directory (ifxctl changes to it first, "
                     "so a relative PROGRAM or PATH entry is found there)")
        ->type_name("DIR");
    runCommand
        ->add_option("--send", run.sends,
                     "Send this text and a newline (with --commands: this command) before standard "
                     "input (repeatable)")
        ->type_name("TEXT")
        ->allow_extra_args(false);
    runCommand->add_flag("--direct", run.direct,
                         "Launch with Initialize (fork and exec here; ifxctl reaps the "
                         "child) instead of InitializeLinux and the wait thread");
    runCommand->add_flag("--nonblocking", run.nonBlocking, "Read the output in non-blocking mode");
    runCommand->add_flag("--commands", run.commands,
                         "Send each line without its newline as one NUL-terminated command, "
                         "as WriteBuf sends it");
    std::string timeout, killAfter, limitSignal;
    runCommand
        ->add_option("--timeout", timeout,
                     "End the utility after this long: SIGTERM (or --signal) to its process "
                     "group, then SIGCONT, and exit 124 once it has ended (s, m, h or d; 0: "
                     "no limit)")
        ->type_name("DURATION")
        ->check(kDuration);
    runCommand
        ->add_option("--signal", limitSignal,
                     "The signal the time limit sends instead of SIGTERM (a name such as INT "
                     "or a number); --kill-after still sends SIGKILL")
        ->type_name("SIGNAL")
        ->check(kSignal);
    runCommand
        ->add_option("--kill-after", killAfter,
                     "Send SIGKILL this long after the first signal sent or passed on if the "
                     "utility still runs, and exit 137")
        ->type_name("DURATION")
        ->check(kDuration);
    runCommand->add_flag("--preserve-status", run.preserveStatus,
                         "Exit with the utility's status even when the time limit ended it");
    runCommand->add_flag("--foreground", run.foreground,
                         "Keep the utility in ifxctl's process group, for one that reads the "
                         "terminal; signals then reach the utility alone, not what it started");
    runCommand
        ->add_option("PROGRAM", run.command,
                     "The utility (a path, or a name in PATH) and its arguments")
        ->type_name("[ARG]")
        ->required();

    std::string onconfigFile;
    std::vector<std::string> onconfigNames;
    CLI::App* onconfigCommand = app.add_subcommand(
        "onconfig",
        "Print ONCONFIG values: the value alone for one NAME, 'NAME value' lines "
        "for several; exit 1 when one is absent or has no value, 2 when the file cannot "
        "be read");
    onconfigCommand->add_option("FILE", onconfigFile, "The ONCONFIG file")->required();
    onconfigCommand->add_option("NAME", onconfigNames, "Parameter names")->required();

    CLI::App* settingsCommand =
        app.add_subcommand("settings", "Read the agent's settings and identity");
    settingsCommand->require_subcommand(1);
    std::string settingName;
    CLI::App* getCommand = settingsCommand->add_subcommand(
        "get",
        "Print one item of the agent's settings (InformixAgent), trimmed; exit 1 when "
        "it is not set");
    getCommand->add_option("NAME", settingName, "The item's name")->required();
    CLI::App* listCommand = settingsCommand->add_subcommand(
        "list", "Print the items of the agent's settings (InformixAgent), 'NAME value' a line");
    std::vector<std::string> agentArguments;
    CLI::App* identityCommand = settingsCommand->add_subcommand(
        "identity",
        "Print the client name, instance name, Informix server and the temporary and log "
        "directories; with AGENT-ARGS (after --) the names come from their -cn and -vm, "
        "without them from JxClientName and JxInstanceName");
    identityCommand->add_option("AGENT-ARGS", agentArguments,
                                "The agent's command-line arguments, after its program name");

    std::string separators, text;
    std::optional<std::string> subSeparators;
    CLI::App* splitCommand = app.add_subcommand(
        "split",
        "Print the tokens of TEXT, one a line: runs of bytes that are not SEPARATORS "
        "(nor --sub ones)");
    splitCommand
        ->add_option("--sub", subSeparators,
                     "Second set of separators: the text is cut at SEPARATORS, each piece at "
                     "these (SplitLine instead of CommandLineToArgv)")
        ->type_name("SEPARATORS");
    splitCommand->add_option("SEPARATORS", separators, "The separator bytes")->required();
    splitCommand->add_option("TEXT", text, "The text to split")->required();

    int pid = 0;
    CLI::App* ppidCommand = app.add_subcommand(
        "ppid",
        "Print the parent process id of PID as /bin/ps reports it; exit 1 when there "
        "is none");
    ppidCommand->add_option("PID", pid, "A process id")
        ->required()
        ->check(CLI::Range(1, INT_MAX).description(""));

    std::optional<long> seconds;
    CLI::App* dateCommand = app.add_subcommand(
        "date", "Print the agent's date string, MM_DD_YYYY-hh:mm:ss in local time (TZ)");
    dateCommand->add_option("SECONDS", seconds, "Seconds since the epoch; default: now");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return finishParse(app, error, argc, argv);
    }
    if (runCommand->parsed()) {
        // A log file named by a relative path stays where the caller meant it.
        if (run.chdir && log.file && !log.file->empty() && log.file->front() != '/') {
            std::vector<char> here(PATH_MAX);
            if (::getcwd(here.data(), here.size()) != nullptr) {
                log.file = std::string(here.data()) + "/" + *log.file;
            }
        }
        if (const std::optional<int> failed = ifxctl::PrepareOwnProcess(run)) {
            return *failed;
        }
    }
    if (!ifxctl::DirectLibraryLog(log)) {
        ifxctl::Complain("cannot set the library's log variables: " + ifxctl::ErrorText(errno));
        return ifxctl::kExitRunFailed;
    }

    if (runCommand->parsed()) {
        run.timeout = timeout.empty() ? 0 : *ifxctl::ParseDuration(timeout);
        run.killAfter = killAfter.empty() ? 0 : *ifxctl::ParseDuration(killAfter);
        run.timeoutText = ifxctl::DurationText(timeout);
        run.killAfterText = ifxctl::DurationText(killAfter);
        if (!limitSignal.empty()) {
            const auto chosen = parseSignal(limitSignal);
            run.signal = chosen->first;
            run.signalName = chosen->second;
        }
        return ifxctl::Run(run);
    }
    if (listCommand->parsed()) {
        return ifxctl::SettingsList();
    }
    if (onconfigCommand->parsed()) {
        return ifxctl::Onconfig(onconfigFile, onconfigNames);
    }
    if (getCommand->parsed()) {
        return ifxctl::SettingsGet(settingName);
    }
    if (identityCommand->parsed()) {
        return ifxctl::SettingsIdentity(agentArguments);
    }
    if (splitCommand->parsed()) {
        return ifxctl::Split(separators, subSeparators, text);
    }
    if (ppidCommand->parsed()) {
        return ifxctl::ParentPid(pid);
    }
    if (dateCommand->parsed()) {
        return ifxctl::Date(seconds);
    }
    return ifxctl::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // The library throws nothing of its own; memory may still run out.
    try {
        return dispatch(argc, argv);
    } catch (const std::exception& error) {
        ifxctl::Complain(error.what());
        return ifxctl::kExitFailure;
    }
}
