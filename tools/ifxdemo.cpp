// The library's main job on the bundled defaults: read the agent's settings and the
// ONCONFIG file under examples/, then start a utility as a child under the Informix user,
// talk to it over the pipes, wait for it and report its exit status.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

const std::string kExamples = IFXLIB_EXAMPLES_DIR;

void showSettings(const std::string& onconfig) {
    for (const char* name : {"DBSERVERNAME", "TAPEDEV", "LTAPEDEV", "BAR_ACT_LOG"}) {
        char value[1024] = "";
        if (ReadFromOnconfig(onconfig.c_str(), name, value) == 0) {
            std::printf("onconfig %s: %s\n", name, value);
        }
    }
    char path[1024] = "";
    if (GetOrreryBaseTempPath(path, sizeof path) == 0) {
        std::printf("temporary directory: %s\n", path);
    }
    if (GetOrreryLogFilesPath(path, sizeof path) == 0) {
        std::printf("event log directory: %s\n", path);
    }
}

// The agent's Informix user when this machine has it, else whoever runs the demo.
std::string informixUser() {
    char configured[256] = "";
    if (GetRegistryItemValue("sIFXUSER", configured, sizeof configured, c_ifxSubKey, false) == 0 &&
        ::getpwnam(configured) != nullptr) {
        return configured;
    }
    const struct passwd* self = ::getpwuid(::getuid());
    return self != nullptr ? self->pw_name : "root";
}

std::string serverName(const std::string& onconfig) {
    std::string sid;
    if (GetIfxSID(sid) == 0) {
        return sid;
    }
    char value[256] = "";
    return ReadFromOnconfig(onconfig.c_str(), "DBSERVERNAME", value) == 0 ? value : "demo";
}

// Sends each command, then reads everything the utility says until it ends.
int driveUtility(const std::string& onconfig) {
    std::string path = kExamples + "/demo-utility.sh";
    std::string user = informixUser();
    std::string server = serverName(onconfig);
    std::vector<char*> argv = {path.data(), const_cast<char*>("-level"), const_cast<char*>("0"),
                               nullptr};
    char* envName[] = {const_cast<char*>("INFORMIXSERVER"), nullptr};
    char* envValue[] = {server.data(), nullptr};

    std::printf("starting %s as %s\n", path.c_str(), user.c_str());
    EvEvent event;
    IfxChildProcess child;
    if (child.InitializeLinux(path.data(), argv.data(), user.data(), envName, envValue, &event,
                              false, false, false, nullptr) != 0) {
        std::printf("launch failed: errno %d\n", static_cast<int>(child.m_lasterror));
        return 1;
    }
    for (const char* command : {"onstat -", "archive level 0", "exit 0"}) {
        std::string text = command;
        if (child.WriteBuf(text.data()) != 0) {
            std::printf("write failed: %d\n", static_cast<int>(child.m_lasterror));
        }
    }
    char buffer[4096];
    while (child.ReadBuf(buffer, sizeof buffer - 1) == 0) {
        std::fputs(buffer, stdout);
    }
    const int status = child.Wait(0);
    child.Finalize();
    std::printf("utility exit status: %d\n", status);
    return status == 0 ? 0 : 1;
}

}  // namespace

int main() {
    if (std::getenv("JX_REGISTRY_DIR") == nullptr) {
        ::setenv("JX_REGISTRY_DIR", (kExamples + "/registry").c_str(), 1);
    }
    const std::string onconfig = kExamples + "/onconfig.demo";
    std::printf("date string: %s\n", CreateDateString(static_cast<long>(std::time(nullptr))));
    std::printf("parent pid (ps): %d\n", GET_PARENTPID(GET_CURRENTTHREADID()));
    showSettings(onconfig);
    return driveUtility(onconfig);
}
