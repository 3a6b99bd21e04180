#include <IfxLib/IfxLib.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>

#include <IfxLib/platform/HostServices.h>

int GET_CURRENTPROCESSID() {
    return static_cast<int>(::getppid());
}

int GET_CURRENTTHREADID() {
    return static_cast<int>(::getpid());
}

int GET_PARENTPID(int pid) {
    char command[1024] = {};
    std::snprintf(command, sizeof command, "/bin/ps -o ppid= -p %d ", pid);
    std::string output;
    if (JxProcess::system(command, &output, nullptr, 0, false) != 0) {
        return -1;
    }
    return std::atoi(output.c_str());
}
