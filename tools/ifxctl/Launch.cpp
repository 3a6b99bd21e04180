#include "Launch.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "LibraryLog.h"
#include "Output.h"
#include "Reachability.h"

namespace ifxctl {

namespace {

constexpr int kExitCannotExecute = 126;
constexpr int kExitNotFound = 127;

// A null-terminated char* array over owned strings, as the launches take them.
class CStringArray {
  public:
    explicit CStringArray(std::vector<std::string> items) : m_items(std::move(items)) {
        for (std::string& item : m_items) {
            m_pointers.push_back(item.data());
        }
        m_pointers.push_back(nullptr);
    }
    CStringArray(const CStringArray&) = delete;
    CStringArray& operator=(const CStringArray&) = delete;

    char** get() { return m_pointers.data(); }

  private:
    std::vector<std::string> m_items;
    std::vector<char*> m_pointers;
};

// A user database record with the storage for its strings.
struct UserRecord {
    struct passwd entry {};
    std::vector<char> scratch;
    bool found = false;
    int error = 0;  // of the lookup itself, when it failed
};

template <typename Lookup>
UserRecord lookUpUser(Lookup lookup) {
    UserRecord record;
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    record.scratch.resize(static_cast<size_t>(suggested > 0 ? suggested : 16384));
    struct passwd* found = nullptr;
    int error;
    while ((error = lookup(&record.entry, record.scratch, &found)) == ERANGE) {
        record.scratch.resize(record.scratch.size() * 2);
    }
    record.found = found != nullptr;
    record.error = error;
    return record;
}

UserRecord userNamed(const std::string& name) {
    return lookUpUser([&](struct passwd* entry, std::vector<char>& scratch, struct passwd** found) {
        return ::getpwnam_r(name.c_str(), entry, scratch.data(), scratch.size(), found);
    });
}

UserRecord userWithId(uid_t uid) {
    return lookUpUser([&](struct passwd* entry, std::vector<char>& scratch, struct passwd** found) {
        return ::getpwuid_r(uid, entry, scratch.data(), scratch.size(), found);
    });
}

std::vector<gid_t> groupsOfUser(const struct passwd& user) {
    std::vector<gid_t> groups(32);
    int count = static_cast<int>(groups.size());
    while (::getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count) > groups.size() ? static_cast<size_t>(count)
                                                                 : groups.size() * 2);
        count = static_cast<int>(groups.size());
    }
    groups.resize(static_cast<size_t>(count));
    return groups;
}

std::vector<gid_t> ownGroups() {
    std::vector<gid_t> groups(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<size_t>(std::max(count, 0)));
    groups.insert(groups.begin(), ::getegid());
    return groups;
}

bool notThere(int error) {
    return error == ENOENT || error == ENOTDIR;
}

int statusFor(int error) {
    return notThere(error) ? kExitNotFound : kExitCannotExecute;
}

// The PATH the utility gets, which env would search: the last --env PATH=, else ours
// (after --ignore-environment and --unset).
std::optional<std::string> utilitysPath(const RunOptions& options) {
    for (auto pair = options.env.rbegin(); pair != options.env.rend(); ++pair) {
        if (pair->compare(0, 5, "PATH=") == 0) {
            return pair->substr(5);
        }
    }
    const char* variable = std::getenv("PATH");
    return variable != nullptr ? std::optional<std::string>(variable) : std::nullopt;
}

// The directories of PATH in order; an empty entry is the current directory, and without
// PATH the system's default applies, as execvp has it.
std::vector<std::string> searchPath(const RunOptions& options) {
    const std::string path = utilitysPath(options).value_or("/bin:/usr/bin");
    std::vector<std::string> directories;
    size_t start = 0;
    for (;;) {
        const size_t colon = path.find(':', start);
        const std::string entry = path.substr(start, colon - start);
        directories.push_back(entry.empty() ? "." : entry);
        if (colon == std::string::npos) {
            return directories;
        }
        start = colon + 1;
    }
}

// The first file of that name in PATH that the user can execute. One that is there but
// cannot be executed is remembered and the search goes on, as execvp does; only when
// nothing better turns up is it the answer.
std::optional<int> findInPath(const std::string& name, const RunOptions& options, RunAs& runAs) {
    std::string refused;
    int refusal = 0;
    for (const std::string& directory : searchPath(options)) {
        std::string candidate = directory;
        candidate += '/';
        candidate += name;
        const int error = WhyNotExecutable(candidate, {runAs.uid, runAs.groups});
        if (error == 0) {
            runAs.program = candidate;
            return std::nullopt;
        }
        if (!notThere(error) && refused.empty()) {
            refused = candidate;
            refusal = error;
        }
    }
    if (!refused.empty()) {
        Complain(refused + ": " + std::strerror(refusal));
        return kExitCannotExecute;
    }
    Complain(name + ": " + std::strerror(ENOENT) + " (looked for in PATH)");
    return kExitNotFound;
}

std::optional<int> checkProgram(const RunOptions& options, RunAs& runAs) {
    const std::string& program = options.command.front();
    if (program.find('/') == std::string::npos) {
        return findInPath(program, options, runAs);
    }
    runAs.program = program;
    const int error = WhyNotExecutable(program, {runAs.uid, runAs.groups});
    if (error != 0) {
        Complain(program + ": " + std::strerror(error));
        return statusFor(error);
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> PrepareOwnProcess(const RunOptions& options) {
    if (options.ignoreEnvironment && ::clearenv() != 0) {
        Complain("cannot clear the environment");
        return kExitRunFailed;
    }
    for (const std::string& name : options.unset) {
        if (::unsetenv(name.c_str()) != 0) {
            Complain("cannot unset '" + name + "': " + ErrorText(errno));
            return kExitRunFailed;
        }
    }
    if (options.chdir && ::chdir(options.chdir->c_str()) != 0) {
        Complain("cannot change the working directory to '" + *options.chdir +
                 "': " + ErrorText(errno));
        return kExitRunFailed;
    }
    return std::nullopt;
}

std::optional<int> CheckBeforeLaunch(const RunOptions& options, RunAs& runAs) {
    if (options.user) {
        const UserRecord user = userNamed(*options.user);
        if (!user.found && user.error == 0) {
            Complain("no such user '" + *options.user + "'");
            return kExitRunFailed;
        }
        // The launch would find out only in the utility's process, from a refused
        // setgid, as a code that a utility could end with too.
        if (user.found && ::geteuid() != 0 && user.entry.pw_uid != ::geteuid()) {
            Complain("only root can run a utility as another user");
            return kExitRunFailed;
        }
        runAs.name = *options.user;
        if (user.found) {
            runAs.uid = user.entry.pw_uid;
            runAs.groups = groupsOfUser(user.entry);
            runAs.home = user.entry.pw_dir;
        }
    } else {
        runAs.uid = ::geteuid();
        runAs.groups = ownGroups();
        // The process service launch always switches users, so it needs our own name.
        if (!options.direct) {
            const UserRecord own = userWithId(::getuid());
            if (!own.found) {
                Complain("the user running ifxctl (uid " + std::to_string(::getuid()) +
                         ") has no name in the user database; name one with --user");
                return kExitRunFailed;
            }
            runAs.name = own.entry.pw_name;
        }
    }
    return checkProgram(options, runAs);
}

bool SetUserEnvironment(const RunOptions& options, const RunAs& runAs) {
    if (!options.user || options.preserveEnvironment || runAs.home.empty()) {
        return true;
    }
    // SHELL stays the caller's, as runuser -u keeps it: the user's login shell may be
    // one that refuses to run anything.
    if (::setenv("HOME", runAs.home.c_str(), 1) != 0) {
        return false;
    }
    if (runAs.uid == 0) {
        return true;
    }
    return ::setenv("USER", runAs.name.c_str(), 1) == 0 &&
           ::setenv("LOGNAME", runAs.name.c_str(), 1) == 0;
}

namespace {

// The process service's parameter block has fixed slots, each list ending in a null one.
constexpr size_t kBlockArguments = sizeof(IfxChildParam::argv) / sizeof(char*) - 1;
constexpr size_t kBlockPairs = sizeof(IfxChildParam::envName) / sizeof(char*) - 1;

// What does not fit the block, said with its limit; the library would give E2BIG alone.
bool fitsServiceBlock(const RunOptions& options, size_t pairs, size_t ownPairs) {
    if (options.command.size() > kBlockArguments) {
        Complain("too many arguments: the process service launch carries PROGRAM and at most " +
                 std::to_string(kBlockArguments - 1) + " arguments, " +
                 std::to_string(options.command.size() - 1) + " given (--direct has no limit)");
        return false;
    }
    if (pairs > kBlockPairs) {
        Complain("too many variables: the process service launch carries at most " +
                 std::to_string(kBlockPairs) + ", and " + std::to_string(pairs) + " were to go (" +
                 std::to_string(options.env.size()) + " --env, " + std::to_string(ownPairs) +
                 " of ifxctl's own for the library's log; --direct has no limit)");
        return false;
    }
    return true;
}

}  // namespace

bool Launch(const RunOptions& options, const RunAs& runAs, EvEvent& event, IfxChildProcess& child) {
    std::string path = runAs.program;
    CStringArray argv(options.command);
    std::vector<std::string> names, values;
    for (const std::string& pair : options.env) {
        const size_t equals = pair.find('=');
        names.push_back(pair.substr(0, equals));
        values.push_back(pair.substr(equals + 1));
    }
    // The utility's log variables are the caller's, unless --env sets them.
    for (const auto& [name, value] : CallersLogVariables()) {
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
            values.push_back(value);
        }
    }
    if (!options.direct &&
        !fitsServiceBlock(options, names.size(), names.size() - options.env.size())) {
        return false;
    }
    CStringArray envNames(std::move(names)), envValues(std::move(values));
    // The direct launch switches no user without a name.
    std::string user = runAs.name;
    char* userName = user.empty() ? nullptr : user.data();

    // Launched from this thread, which lives as long as ifxctl: the kernel ends the
    // utility when ifxctl dies, SIGKILL included.
    child.SetLaunchOptions(IfxChildProcess::kStopWithLauncher |
                           (options.foreground ? 0U : IfxChildProcess::kOwnProcessGroup));
    const int launched =
        options.direct
            ? child.Initialize(path.data(), argv.get(), userName, envNames.get(), envValues.get(),
                               &event, false, options.nonBlocking, false, nullptr)
            : child.InitializeLinux(path.data(), argv.get(), userName, envNames.get(),
                                    envValues.get(), &event, false, options.nonBlocking, false,
                                    nullptr);
    if (launched != 0) {
        Complain("cannot launch " + path + ": " + ErrorText(child.m_lasterror));
        child.Finalize();
        return false;
    }
    return true;
}

}  // namespace ifxctl
