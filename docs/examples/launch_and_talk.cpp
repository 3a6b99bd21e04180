// The main road as agent code writes it: launch a utility under the Informix user, send
// it commands, read everything it says, wait for its exit status, finalize, destroy.
//
//   launch_and_talk UTILITY [USER]
//
// UTILITY answers each NUL-terminated command with a line and ends on "exit <n>", like
// examples/demo-utility.sh. USER defaults to the user running the example; an agent,
// which runs as root, names the Informix user.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string ownUserName() {
    const struct passwd* self = ::getpwuid(::getuid());
    return self != nullptr ? self->pw_name : "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s UTILITY [USER]\n", argv[0]);
        return 2;
    }
    std::string path = argv[1];
    std::string user = argc > 2 ? argv[2] : ownUserName();

    // Launch. The arrays end with a null entry; the strings are copied before the call
    // returns, so locals are enough. The event must outlive the object.
    char level[] = "-level";
    char zero[] = "0";
    char* args[] = {path.data(), level, zero, nullptr};
    char server[] = "INFORMIXSERVER";
    char serverName[] = "demo_srv";
    char* envName[] = {server, nullptr};
    char* envValue[] = {serverName, nullptr};
    EvEvent event;
    IfxChildProcess child;
    if (child.InitializeLinux(path.data(), args, user.data(), envName, envValue, &event,
                              /*option1=*/false, /*nonBlocking=*/false, /*option3=*/false,
                              /*reserved=*/nullptr) != 0) {
        std::fprintf(stderr, "launch failed: errno %d\n", static_cast<int>(child.m_lasterror));
        return 1;
    }

    // Talk. Each command goes out with its NUL; short commands fit the pipe, so sending
    // them all before reading cannot stall.
    for (const char* command : {"onstat -", "archive level 0", "exit 0"}) {
        std::string text = command;
        if (child.WriteBuf(text.data()) != 0) {
            std::fprintf(stderr, "write failed: errno %d\n", static_cast<int>(child.m_lasterror));
            break;
        }
    }
    // One byte short of the buffer, so that every chunk ends in a NUL. ReadBuf blocks
    // until data comes and fails with m_lasterror 32 once every writer has closed.
    std::string output;
    char buffer[4096];
    while (child.ReadBuf(buffer, sizeof buffer - 1) == 0) {
        output += buffer;
    }

    // Wait in this thread: 0, the child's status (exit code, or 128 + signal), or -1.
    const int status = child.Wait(0);
    child.Finalize();

    std::printf("%sexit status %d\n", output.c_str(), status);
    const bool answered = output.find("done with 'archive level 0'") != std::string::npos;
    return status == 0 && answered ? 0 : 1;
}
