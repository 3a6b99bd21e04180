#pragma once

// Launching the helper program as a real child and talking to it, for either launch.

#include <IfxLib/IfxLib.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ifxtest {

// Path of the helper program, set by the build.
const char* ChildHelperPath();
// A copy of the helper program that every user can execute (in a directory of its own
// under /tmp, removed when the test program ends): the build tree may sit below a
// directory other users cannot enter.
const std::string& ChildHelperPathForAnyUser();
// Path of the program that runs one launch (tests/helpers/LaunchOnce.cpp).
const char* LaunchOncePath();

// A null-terminated char* array over owned strings, as the launch functions take them.
class CStringArray {
  public:
    explicit CStringArray(std::vector<std::string> items);
    CStringArray(const CStringArray&) = delete;
    CStringArray& operator=(const CStringArray&) = delete;
    char** get() { return m_pointers.data(); }

  private:
    std::vector<std::string> m_items;
    std::vector<char*> m_pointers;
};

enum class Launch { Direct, ProcessService };
const char* LaunchName(Launch how);

struct LaunchArgs {
    std::string path = ChildHelperPath();
    std::optional<std::vector<std::string>> argv;
    // No value: the direct launch switches no user, the service launch gets our own name.
    std::optional<std::string> user;
    std::optional<std::vector<std::string>> envNames;
    std::optional<std::vector<std::string>> envValues;
    EvEvent* event = nullptr;
    bool nonBlocking = false;
};

int LaunchChild(IfxChildProcess& child, Launch how, const LaunchArgs& args);

// The child's status as the process service reports it (exit code, or 128 + signal):
// through Wait after the service launch, waitpid after the direct one.
int WaitForStatus(IfxChildProcess& child, Launch how);

// Collects the child's output until a whole line has arrived; the line without "\n".
std::string ReadLine(IfxChildProcess& child);
// Sends one command and returns the helper's one-line answer.
std::string Ask(IfxChildProcess& child, const std::string& command);

// Blocks until the child's end of the output pipe is closed.
void WaitForOutputEnd(const IfxChildProcess& child);

std::string UserName(uid_t uid);
std::set<int> OpenDescriptors();
bool DescriptorIsOpen(int fd);

// Whether thread tid of this process is in the system call syscallNumber now, as /proc
// shows it (false once the thread is gone); WaitUntilBlockedIn returns once it is, and
// fails the test when the thread ends first: the state a test needs before it
// interrupts or races that call. PauseBeforeLookingAgain spares the processor between
// two looks at a state.
bool IsBlockedIn(pid_t tid, long syscallNumber);
// Whether /proc reports system calls by this program's own numbers. Under user-mode
// emulation it reports the build machine's, and a test cannot tell which call blocks.
bool SystemCallNumbersAreOurs();
// Whether the tests run under user-mode emulation, where a child started sharing the
// parent's memory is a plain fork and a test program cannot execute itself again.
bool UnderUserModeEmulation();
void WaitUntilBlockedIn(pid_t tid, long syscallNumber);
void PauseBeforeLookingAgain();

// True when user may execute path, checked by a process that runs as that user.
bool ExecutableBy(const std::string& user, const std::string& path);

// "uid=<u> gid=<g> groups=<sorted list>", as the helper answers "ids", for a user as the
// launch sets it up (initgroups from the user database).
std::string ExpectedIdsOf(const std::string& user);
// The same for this process as it runs.
std::string OwnIds();

}  // namespace ifxtest
