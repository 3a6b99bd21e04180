// onconfig and settings: the Informix configuration and the agent's settings and
// identity, as the agent reads them.

#include <IfxLib/IfxLib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Output.h"

namespace ifxctl {

namespace {

// GetRegistryItemValue cannot say how long a value is; a buffer that doubles up to this
// bound finds any value a settings file should hold.
constexpr size_t kFirstSettingCapacity = 256;
constexpr size_t kMaxSettingCapacity = 1 << 20;

constexpr unsigned int kNameCapacity = 1024;
constexpr int kPathCapacity = 4096;

// The size of the ONCONFIG file, which bounds every value in it, or -1 with a complaint
// when the file cannot be read at all. ReadFromOnconfig reports a missing file and a
// missing parameter alike (ENOENT), so the file is looked at first.
off_t onconfigSize(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Complain("cannot read " + file + ": " + ErrorText(errno));
        return -1;
    }
    struct stat status {};
    const bool statted = ::fstat(fd, &status) == 0;
    const int statError = errno;
    ::close(fd);
    if (!statted) {
        Complain("cannot read " + file + ": " + ErrorText(statError));
        return -1;
    }
    if (S_ISDIR(status.st_mode)) {
        Complain("cannot read " + file + ": " + ErrorText(EISDIR));
        return -1;
    }
    return status.st_size;
}

// Says why ReadFromOnconfig found no value for name; returns the exit status for it.
int explainMissingValue(const std::string& name, const std::string& file, int error) {
    if (error == ENOENT) {
        Complain(name + " is not set in " + file);
        return kExitFailure;
    }
    if (error == ENODATA) {
        Complain(name + " has no value in " + file);
        return kExitFailure;
    }
    // The file changed under us, or went away.
    Complain("cannot read " + name + " from " + file + ": " + ErrorText(error));
    return kExitTrouble;
}

std::string registryRoot() {
    const char* root = std::getenv("JX_REGISTRY_DIR");
    return root != nullptr && *root != '\0' ? root : "/etc/jxregistry";
}

// One "label: value" line of the identity report.
bool report(const char* label, bool found, const std::string& value) {
    return PrintLine(std::string(label) + ": " + (found ? value : "(not set)"));
}

}  // namespace

int Onconfig(const std::string& file, const std::vector<std::string>& names) {
    const off_t size = onconfigSize(file);
    if (size < 0) {
        return kExitTrouble;
    }
    if (size == 0) {
        Complain(file + " is empty");
        return kExitFailure;
    }
    int status = kExitOk;
    // A value is one field of one line: the file's size bounds it.
    std::vector<char> value(static_cast<size_t>(size) + 1);
    for (const std::string& name : names) {
        if (ReadFromOnconfig(file.c_str(), name.c_str(), value.data(), value.size()) != 0) {
            status = std::max(status, explainMissingValue(name, file, errno));
            continue;
        }
        const std::string line = names.size() == 1 ? value.data() : name + " " + value.data();
        if (!PrintLine(line)) {
            return OutputFailed();
        }
    }
    return status;
}

namespace {

// Says so when the registry directory is missing; false when it is there.
bool registryMissing() {
    const std::string root = registryRoot();
    struct stat status {};
    if (::stat(root.c_str(), &status) == 0) {
        return false;
    }
    Complain("the registry directory " + root + " does not exist (JX_REGISTRY_DIR names it)");
    return true;
}

// Says why no item can be read at all, when the registry directory or the section file
// is missing; false when both are there.
bool explainMissingSection() {
    if (registryMissing()) {
        return true;
    }
    const std::string root = registryRoot();
    struct stat status {};
    const std::string section = root + "/" + c_ifxSubKey;
    if (::stat(section.c_str(), &status) != 0) {
        Complain("the registry at " + root + " has no " + c_ifxSubKey + " section (no file " +
                 section + ")");
        return true;
    }
    return false;
}

// The value of one item, trimmed, as the library reads it; nullopt when it is not set.
std::optional<std::string> settingValue(const std::string& name) {
    for (size_t capacity = kFirstSettingCapacity; capacity <= kMaxSettingCapacity; capacity *= 2) {
        std::vector<char> value(capacity, '\0');
        if (GetRegistryItemValue(name.c_str(), value.data(), static_cast<unsigned int>(capacity),
                                 c_ifxSubKey, false) == 0) {
            return std::string(value.data());
        }
    }
    return std::nullopt;
}

// The names of the section's items in file order, each once: the first word of every
// line that is not empty or a comment. Their values are the library's to read.
std::vector<std::string> settingNames(const std::string& content) {
    std::vector<std::string> names;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string name = line.substr(0, line.find_first_of(" \t"));
        if (!name.empty() && name[0] != '#' &&
            std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    return names;
}

}  // namespace

int SettingsGet(const std::string& name) {
    if (const std::optional<std::string> value = settingValue(name)) {
        return PrintLine(*value) ? kExitOk : OutputFailed();
    }
    if (!explainMissingSection()) {
        Complain(name + " is not set in the " + c_ifxSubKey + " settings of the registry at " +
                 registryRoot());
    }
    return kExitFailure;
}

int SettingsList() {
    if (explainMissingSection()) {
        return kExitFailure;
    }
    const std::string section = registryRoot() + "/" + c_ifxSubKey;
    std::ifstream file(section);
    std::ostringstream content;
    content << file.rdbuf();
    if (!file) {
        Complain("cannot read " + section + ": " + ErrorText(errno));
        return kExitFailure;
    }
    for (const std::string& name : settingNames(content.str())) {
        const std::optional<std::string> value = settingValue(name);
        const std::string line = value && !value->empty() ? name + " " + *value : name;
        if (!PrintLine(line)) {
            return OutputFailed();
        }
    }
    return kExitOk;
}

int SettingsIdentity(const std::vector<std::string>& agentArguments) {
    // The functions look at an agent's whole command line, its program name first.
    std::vector<std::string> arguments{"agent"};
    arguments.insert(arguments.end(), agentArguments.begin(), agentArguments.end());
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(arguments.size());

    char client[kNameCapacity] = "";
    const bool hasClient =
        GetClientName(argc, argv.data(), client, sizeof client) == 0 && client[0] != '\0';
    char instance[kNameCapacity] = "";
    const bool hasInstance = GetInstanceName(argc, argv.data(), instance, sizeof instance) == 0;
    std::string server;
    const bool hasServer = GetIfxSID(server) == 0;
    char temporary[kPathCapacity] = "";
    const bool hasTemporary = GetOrreryBaseTempPath(temporary, sizeof temporary) == 0;
    char logs[kPathCapacity] = "";
    const bool hasLogs = GetOrreryLogFilesPath(logs, sizeof logs) == 0;

    const bool written = report("client name", hasClient, client) &&
                         report("instance name", hasInstance, instance) &&
                         report("Informix server", hasServer, server) &&
                         report("temporary directory", hasTemporary, temporary) &&
                         report("log directory", hasLogs, logs);
    if (!written) {
        return OutputFailed();
    }
    // The names may come from the arguments and the environment; the directories need the
    // registry, and an identity read without it is not the agent's.
    return registryMissing() ? kExitFailure : kExitOk;
}

}  // namespace ifxctl
