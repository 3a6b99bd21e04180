#include "childprocess/ChildTestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "support/TempDir.h"

namespace ifxtest {

const char* ChildHelperPath() {
    return IFXTEST_CHILD_HELPER;
}

namespace {

class HelperCopy {
  public:
    HelperCopy() {
        char pattern[] = "/tmp/ifxtest-helper-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
            return;
        }
        m_directory = pattern;
        m_path = m_directory + "/ifxtest_child_helper";
        namespace fs = std::filesystem;
        std::error_code error;
        fs::permissions(m_directory, fs::perms(0755), error);
        if (!error) {
            fs::copy_file(ChildHelperPath(), m_path, error);
        }
        if (!error) {
            fs::permissions(m_path, fs::perms(0755), error);
        }
        if (error) {
            ADD_FAILURE() << "cannot copy the helper to " << m_path << ": " << error.message();
        }
    }
    ~HelperCopy() {
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }
    const std::string& path() const { return m_path; }

  private:
    std::string m_directory;
    std::string m_path;
};

}  // namespace

const std::string& ChildHelperPathForAnyUser() {
    static const HelperCopy copy;
    return copy.path();
}

const char* LaunchOncePath() {
    return IFXTEST_LAUNCH_ONCE;
}

CStringArray::CStringArray(std::vector<std::string> items) : m_items(std::move(items)) {
    for (std::string& item : m_items) {
        m_pointers.push_back(item.data());
    }
    m_pointers.push_back(nullptr);
}

const char* LaunchName(Launch how) {
    return how == Launch::Direct ? "Initialize" : "InitializeLinux";
}

int LaunchChild(IfxChildProcess& child, Launch how, const LaunchArgs& args) {
    std::string path = args.path;
    std::optional<CStringArray> argv, names, values;
    if (args.argv) {
        argv.emplace(*args.argv);
    }
    if (args.envNames) {
        names.emplace(*args.envNames);
    }
    if (args.envValues) {
        values.emplace(*args.envValues);
    }
    std::optional<std::string> user = args.user;
    if (!user && how == Launch::ProcessService) {
        user = UserName(::getuid());
    }
    char** argvPointer = argv ? argv->get() : nullptr;
    char** namesPointer = names ? names->get() : nullptr;
    char** valuesPointer = values ? values->get() : nullptr;
    char* userPointer = user ? user->data() : nullptr;
    if (how == Launch::Direct) {
        return child.Initialize(path.data(), argvPointer, userPointer, namesPointer, valuesPointer,
                                args.event, false, args.nonBlocking, false, nullptr);
    }
    return child.InitializeLinux(path.data(), argvPointer, userPointer, namesPointer, valuesPointer,
                                 args.event, false, args.nonBlocking, false, nullptr);
}

int WaitForStatus(IfxChildProcess& child, Launch how) {
    if (how == Launch::ProcessService) {
        const int result = child.Wait(0);
        EXPECT_NE(result, -1) << "the process service gave no status";
        return result;
    }
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(child.m_childpid, &raw, 0);
    } while (result < 0 && errno == EINTR);
    EXPECT_EQ(result, child.m_childpid);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

void WaitForOutputEnd(const IfxChildProcess& child) {
    struct pollfd entry {};
    entry.fd = child.m_phpipecw[0];
    entry.events = POLLIN;
    for (;;) {
        const int ready = ::poll(&entry, 1, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        // Unread data would wake poll at once, forever: the tests drain it beforehand.
        EXPECT_TRUE(ready > 0 && (entry.revents & POLLHUP) != 0)
            << "output still pending: revents " << entry.revents;
        return;
    }
}

namespace {

void WaitUntilReadable(int fd) {
    struct pollfd entry {};
    entry.fd = fd;
    entry.events = POLLIN;
    while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::string ReadLine(IfxChildProcess& child) {
    std::string text;
    char buffer[256] = {};  // ReadBuf clears only what it may fill: the last byte ends the text
    while (text.find('\n') == std::string::npos) {
        if (child.m_bnonblocking) {
            WaitUntilReadable(child.m_phpipecw[0]);
        }
        if (child.ReadBuf(buffer, sizeof buffer - 1) != 0) {
            ADD_FAILURE() << "ReadBuf failed with " << child.m_lasterror << " after \"" << text
                          << "\"";
            return text;
        }
        text += buffer;
    }
    EXPECT_EQ(text.find('\n'), text.size() - 1) << "more than one line arrived: " << text;
    text.pop_back();
    return text;
}

std::string Ask(IfxChildProcess& child, const std::string& command) {
    std::string text = command;
    EXPECT_EQ(child.WriteBuf(text.data()), 0) << "m_lasterror " << child.m_lasterror;
    return ReadLine(child);
}

std::string UserName(uid_t uid) {
    const struct passwd* record = ::getpwuid(uid);
    return record != nullptr ? record->pw_name : std::to_string(uid);
}

std::set<int> OpenDescriptors() {
    std::set<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        ADD_FAILURE() << "cannot list /proc/self/fd";
        return fds;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            fds.insert(std::atoi(entry->d_name));
        }
    }
    fds.erase(::dirfd(dir));
    ::closedir(dir);
    return fds;
}

bool DescriptorIsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

namespace {

// "<number> <arguments...>" while in a call, "running" otherwise; empty when the thread
// is gone.
std::string SystemCallOf(pid_t tid) {
    return readFile("/proc/self/task/" + std::to_string(tid) + "/syscall");
}

}  // namespace

bool IsBlockedIn(pid_t tid, long syscallNumber) {
    const std::string state = SystemCallOf(tid);
    return !state.empty() && state.compare(0, state.find(' '), std::to_string(syscallNumber)) == 0;
}

bool UnderUserModeEmulation() {
#ifdef IFXTEST_UNDER_EMULATOR
    return true;
#else
    return false;
#endif
}

bool SystemCallNumbersAreOurs() {
#ifdef IFXTEST_UNDER_EMULATOR
    return false;
#else
    return true;
#endif
}

void WaitUntilBlockedIn(pid_t tid, long syscallNumber) {
    while (!IsBlockedIn(tid, syscallNumber)) {
        if (SystemCallOf(tid).empty()) {
            ADD_FAILURE() << "thread " << tid << " is gone";
            return;
        }
        PauseBeforeLookingAgain();
    }
}

void PauseBeforeLookingAgain() {
    const struct timespec pause { 0, 1000000 };
    ::nanosleep(&pause, nullptr);
}

bool ExecutableBy(const std::string& user, const std::string& path) {
    const struct passwd* record = ::getpwnam(user.c_str());
    if (record == nullptr) {
        return false;
    }
    const uid_t uid = record->pw_uid;
    const gid_t gid = record->pw_gid;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool switched =
            ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
        ::_exit(switched && ::access(path.c_str(), X_OK) == 0 ? 0 : 1);
    }
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

namespace {

std::string FormatIds(uid_t uid, gid_t gid, std::vector<gid_t> groups) {
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    std::string text = "uid=" + std::to_string(uid) + " gid=" + std::to_string(gid) + " groups=";
    for (size_t i = 0; i < groups.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(groups[i]);
    }
    return text;
}

}  // namespace

std::string ExpectedIdsOf(const std::string& user) {
    const struct passwd* record = ::getpwnam(user.c_str());
    if (record == nullptr) {
        return "no such user";
    }
    const uid_t uid = record->pw_uid;
    const gid_t gid = record->pw_gid;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user.c_str(), gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        ::getgrouplist(user.c_str(), gid, groups.data(), &count);
    }
    groups.resize(static_cast<size_t>(count));
    return FormatIds(uid, gid, groups);
}

std::string OwnIds() {
    std::vector<gid_t> groups(static_cast<size_t>(::getgroups(0, nullptr)));
    groups.resize(static_cast<size_t>(::getgroups(static_cast<int>(groups.size()), groups.data())));
    return FormatIds(::getuid(), ::getgid(), groups);
}

}  // namespace ifxtest
