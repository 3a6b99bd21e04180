#include <cstring>

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

int GetOrreryBaseTempPath(char* path, int size) {
    if (path == nullptr || size <= 0) {
        return -1;
    }
    path[0] = '\0';
    JXPI_Base host;
    const char* directory = host.getOrreryTempDirectory();
    if (directory == nullptr) {
        return -1;
    }
    // The directory, the "/" that callers append file names to, and the NUL.
    const std::size_t length = std::strlen(directory);
    if (length + 2 > static_cast<std::size_t>(size)) {
        return -1;
    }
    std::memcpy(path, directory, length);
    path[length] = '/';
    path[length + 1] = '\0';
    return 0;
}

int GetOrreryLogFilesPath(char* path, int size) {
    if (path == nullptr || size <= 0) {
        return -1;
    }
    path[0] = '\0';
    JXPlatformInfo reader;
    // Delivered as stored: the event manager's own setting, not trimmed or completed.
    return reader.getString("EventManager", "dEVLOGDIR", path, &size) != 0 ? 0 : -1;
}
