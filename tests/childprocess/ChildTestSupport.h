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

// True when user may execute path, checked by a process that runs as that user.
bool ExecutableBy(const std::string& user, const std::string& path);

// "uid=<u> gid=<g> groups=<sorted list>", as the helper answers "ids", for a user as the
// launch sets it up (initgroups from the user database).
std::string ExpectedIdsOf(const std::string& user);
// The same for this process as it runs.
std::string OwnIds();

}  // namespace ifxtest
