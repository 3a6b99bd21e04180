// Shows the library at work on the bundled defaults.

#include <IfxLib/IfxLib.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// The demonstration ONCONFIG and settings registry under examples/, unless the caller
// points JX_REGISTRY_DIR somewhere else.
void showSettings() {
    const std::string examples = IFXLIB_EXAMPLES_DIR;
    if (std::getenv("JX_REGISTRY_DIR") == nullptr) {
        ::setenv("JX_REGISTRY_DIR", (examples + "/registry").c_str(), 1);
    }
    const std::string onconfig = examples + "/onconfig.demo";
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
    if (GetRegistryItemValue("sINFORMIXSERVER", path, sizeof path, c_ifxSubKey, false) == 0) {
        std::printf("agent setting sINFORMIXSERVER: %s\n", path);
    }
}

}  // namespace

int main() {
    std::printf("date string: %s\n", CreateDateString(static_cast<long>(std::time(nullptr))));
    std::printf("parent pid (ps): %d\n", GET_PARENTPID(GET_CURRENTTHREADID()));
    showSettings();
    return 0;
}
