// onconfig and settings: the Informix configuration and the agent's settings and
// identity, as the agent reads them.

#include <IfxLib/IfxLib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

// The size of the ONCONFIG file, which bounds every value in it: ReadFromOnconfig takes
// no capacity and copies a whole field of one line. -1 with a complaint when the file
// cannot be read at all, so that the lookups are not blamed for it.
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
        return kExitFailure;
    }
    int status = kExitOk;
    for (const std::string& name : names) {
        // Only a file that grows while it is being read could hold a longer value.
        std::vector<char> value(static_cast<size_t>(size) + 1, '\0');
        if (ReadFromOnconfig(file.c_str(), name.c_str(), value.data()) != 0) {
            Complain(name + " has no value in " + file);  // NOLINT(performance-*): once
            status = kExitFailure;
            continue;
        }
        const std::string line = names.size() == 1 ? value.data() : name + " " + value.data();
        if (!PrintLine(line)) {
            return OutputFailed();
        }
    }
    return status;
}

int SettingsGet(const std::string& name) {
    for (size_t capacity = kFirstSettingCapacity; capacity <= kMaxSettingCapacity; capacity *= 2) {
        std::vector<char> value(capacity, '\0');
        if (GetRegistryItemValue(name.c_str(), value.data(), static_cast<unsigned int>(capacity),
                                 c_ifxSubKey, false) == 0) {
            return PrintLine(value.data()) ? kExitOk : OutputFailed();
        }
    }
    Complain(name + " is not set in the " + c_ifxSubKey + " settings of the registry at " +
             registryRoot());
    return kExitFailure;
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
    return written ? kExitOk : OutputFailed();
}

}  // namespace ifxctl
