// Performs one operation through the library's public interface and reports what a caller
// sees, for the system-call fault-injection table (faultinject.py):
//
//   ifxtest_fault_driver <operation> <work directory> <child program>
//
// As root, the driver takes root's supplementary groups first, as an agent started by root
// has them.
//
// Operations: Initialize, InitializeLinux.Wait, InitializeLinux.BeginWait,
// ReadFromOnconfig, GetRegistryItemValue, jxrename, GET_PARENTPID (of the driver itself),
// Log; a launch with ".nostdio" appended
// runs with descriptors 0 to 2 closed. The launches run the child
// program (the tests' helper) as "nobody" when run as root, send it one command, read its
// answer and wait for it; IFXLIB_LAUNCH in the environment chooses the engine.
//
// Start-up (files, name-service set-up, counts) happens first; then the driver prints
// "ready" and waits for SIGUSR1, so that strace can attach and count system calls from the
// operation's first one. The operation lies between two access(2) calls on the paths
// "/ifx-faultinject/begin" and "/ifx-faultinject/end", which a recording uses to find it.
// SIGCHLD stays blocked throughout: under ptrace a signal that interrupts a blocking call
// makes the call start again, and would change the count from one run to the next.
//
// The report, one "key=value" line each, follows on standard output. Everything after the
// operation retries a failing call a few times: an injected failure hits one occurrence
// per process, and the report must survive one that lands after the operation.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kRetries = 4;
constexpr long kReadCapacity = 256;
// Low enough that a child's descriptor sweep without close_range stays short under
// ptrace, high enough for every launch.
constexpr rlim_t kDescriptorLimit = 256;

using Report = std::map<std::string, std::string>;

// Where the report goes: standard output, or a copy of it when the operation runs with
// descriptors 0 to 2 closed.
int g_report = STDOUT_FILENO;
constexpr char kClosedStandardDescriptors[] = ".nostdio";

struct Setup {
    std::string work;
    std::string program;
    std::string user;  // empty: no user switch where the launch allows it
};

// What the driver does after the operation, outside the counted part: reaping the child
// of Initialize, which is the caller's, and looking at the files jxrename worked on.
struct Afterwards {
    pid_t reap = 0;
    bool inspectRename = false;
};

// Runs call until it succeeds (as judged by ok) or kRetries attempts have failed.
template <typename Call, typename Ok>
auto retrying(Call call, Ok ok) -> decltype(call()) {
    auto result = call();
    for (int attempt = 1; attempt < kRetries && !ok(result); ++attempt) {
        result = call();
    }
    return result;
}

void writeAll(const std::string& text) {
    size_t done = 0;
    int failures = 0;
    while (done < text.size() && failures < kRetries) {
        const ssize_t n = ::write(g_report, text.data() + done, text.size() - done);
        if (n <= 0) {
            ++failures;
            continue;
        }
        done += static_cast<size_t>(n);
    }
}

std::vector<long> numericEntries(const char* directory) {
    DIR* dir = retrying([&] { return ::opendir(directory); }, [](DIR* d) { return d != nullptr; });
    std::vector<long> numbers;
    if (dir == nullptr) {
        return {-1};
    }
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') {
            const long number = std::strtol(entry->d_name, nullptr, 10);
            if (number != own) {
                numbers.push_back(number);
            }
        }
    }
    ::closedir(dir);
    return numbers;
}

std::string joined(const std::vector<long>& numbers) {
    std::string text;
    for (long number : numbers) {
        text += (text.empty() ? "" : ",") + std::to_string(number);
    }
    return text;
}

// The whole file, or "MISSING" when it does not exist.
std::string readFile(const std::string& path) {
    const int fd = retrying([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); },
                            [](int r) { return r >= 0 || errno == ENOENT; });
    if (fd < 0) {
        return errno == ENOENT ? "MISSING" : "UNREADABLE";
    }
    std::string content;
    char chunk[4096];
    for (int failures = 0; failures < kRetries;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            ++failures;
            continue;
        }
        content.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return content;
}

// Threads of this process that are not on their way out. A thread that pthread_join has
// returned for can still be listed while the kernel finishes it, with PF_EXITING set in
// the flags of its stat (the seventh field after the name, which may hold blanks
// and parentheses): counting it would call a joined thread left behind.
size_t liveThreads() {
    constexpr unsigned long kTaskExiting = 0x4;
    size_t live = 0;
    for (long tid : numericEntries("/proc/self/task")) {
        const std::string stat = readFile("/proc/self/task/" + std::to_string(tid) + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;  // gone between the listing and the read
        }
        std::istringstream fields(stat.substr(close + 1));
        std::string field;
        unsigned long flags = 0;
        for (int i = 0; i < 6 && fields >> field; ++i) {
        }
        if (fields >> flags && (flags & kTaskExiting) == 0) {
            ++live;
        }
    }
    return live;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::trunc) << content;
}

// Children of this process, ended or not: "<pid>:<state>" each.
std::string children() {
    std::string text;
    for (long pid : numericEntries("/proc")) {
        const std::string line = readFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 2));
        char state = '?';
        long parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid()) {
            text += (text.empty() ? "" : ",") + std::to_string(pid) + ":" + state;
        }
    }
    return text;
}

// What descriptors 0, 1 and 2 refer to: "closed", "pipe" or a path.
std::string standardDescriptors() {
    std::string text;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        char target[4096] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t length =
            retrying([&] { return ::readlink(link.c_str(), target, sizeof target - 1); },
                     [](ssize_t r) { return r >= 0 || errno == ENOENT; });
        const std::string name =
            length < 0 ? "closed" : std::string(target, static_cast<size_t>(length));
        text += (fd == STDIN_FILENO ? "" : ",") + (name.rfind("pipe:", 0) == 0 ? "pipe" : name);
    }
    return text;
}

std::string statusText(int raw) {
    if (WIFEXITED(raw)) {
        return std::to_string(WEXITSTATUS(raw));
    }
    if (WIFSIGNALED(raw)) {
        return std::to_string(128 + WTERMSIG(raw));
    }
    return "?";
}

// A child the caller started with Initialize is the caller's to reap.
std::string reap(pid_t pid) {
    if (pid <= 0) {
        return "none";
    }
    int raw = 0;
    const pid_t reaped = retrying([&] { return ::waitpid(pid, &raw, 0); },
                                  [](pid_t r) { return r >= 0 || errno == ECHILD; });
    return reaped == pid ? statusText(raw) : "waitpid:" + std::to_string(errno);
}

// One command and its answer, which the helper writes with one write(2), so that one read
// takes it whole.
bool ask(IfxChildProcess& child, const char* command, const std::string& key, Report& report) {
    std::string text = command;
    const int wrote = child.WriteBuf(&text[0]);
    report[key + ".write"] = std::to_string(wrote) + "/" + std::to_string(child.m_lasterror.load());
    if (wrote == 0 && child.m_bnonblocking) {
        struct pollfd entry {
            child.m_phpipecw[0], POLLIN, 0
        };
        retrying([&] { return ::poll(&entry, 1, -1); }, [](int r) { return r >= 0; });
    }
    char buffer[kReadCapacity + 1] = {};
    const int read = child.ReadBuf(buffer, kReadCapacity);
    report[key + ".read"] = std::to_string(read) + "/" + std::to_string(child.m_lasterror.load());
    report[key] = read == 0 ? std::string(buffer, std::strcspn(buffer, "\n")) : "";
    return wrote == 0 && read == 0;
}

// The program's user and groups, and its descriptors; then it is told to end. It is ended
// by a command rather than by the end of its input: a row that makes a close fail keeps a
// pipe end open that Linux would have released.
void roundTrip(IfxChildProcess& child, Report& report) {
    if (!ask(child, "ids", "ids", report) || !ask(child, "fds", "fds", report)) {
        return;
    }
    char exit[] = "exit 0";
    const int ended = child.WriteBuf(exit);
    report["exit"] = std::to_string(ended) + "/" + std::to_string(child.m_lasterror.load());
}

void launchReport(const IfxChildProcess& child, int launched, Report& report) {
    report["result"] = std::to_string(launched);
    report["lasterror"] = std::to_string(child.m_lasterror.load());
}

char* text(std::string& value) {
    return value.empty() ? nullptr : &value[0];
}

// The one environment pair every launch sets, in the lists the launches take.
struct ProbePair {
    char name[12] = "FAULT_PROBE";
    char value[2] = "1";
    char* names[2] = {name, nullptr};
    char* values[2] = {value, nullptr};
};

void initialize(const Setup& setup, Report& report, Afterwards& after) {
    std::string program = setup.program;
    std::string user = setup.user;
    ProbePair pair;
    IfxChildProcess child;
    const int launched = child.Initialize(text(program), nullptr, text(user), pair.names,
                                          pair.values, nullptr, false, false, false, nullptr);
    launchReport(child, launched, report);
    if (launched == 0) {
        after.reap = child.m_childpid;
        roundTrip(child, report);
    }
    child.Finalize();
}

void initializeLinux(const Setup& setup, bool waitThread, Report& report) {
    std::string program = setup.program;
    std::string user = setup.user;
    ProbePair pair;
    EvEvent event;
    IfxChildProcess child;
    const int launched =
        child.InitializeLinux(text(program), nullptr, text(user), pair.names, pair.values, &event,
                              false, waitThread, false, nullptr);
    launchReport(child, launched, report);
    if (launched != 0) {
        child.Finalize();
        report["status"] = "none";
        return;
    }
    if (!waitThread) {
        roundTrip(child, report);
        child.Finalize();
        const int waited = child.Wait(0);
        report["wait"] = std::to_string(waited);
        report["status"] = waited >= 0 ? std::to_string(waited) : "none";
        return;
    }
    const int began = child.BeginWait();
    // Once the thread runs it may store the child's status in m_lasterror at any moment.
    report["beginwait"] =
        began == 0 ? "0" : std::to_string(began) + "/" + std::to_string(child.m_lasterror.load());
    roundTrip(child, report);
    child.Finalize();
    if (began == 0) {
        child.m_pthread->join();
        report["waitdone"] = std::to_string(child.m_bwaitdone.load());
        report["waitfailed"] = std::to_string(child.m_bwaitfailed.load());
        const long long exitcode = child.m_exitcode.load();
        // The thread reports a status other than 0 in m_exitcode, and none as 0 there.
        report["status"] = child.m_bwaitdone ? "0"
                           : exitcode != 0   ? std::to_string(exitcode)
                                             : "none";
    } else {
        // Without a wait thread the caller waits itself.
        const int waited = child.Wait(0);
        report["wait"] = std::to_string(waited);
        report["status"] = waited >= 0 ? std::to_string(waited) : "none";
    }
}

void readFromOnconfig(const Setup& setup, Report& report, Afterwards&) {
    const std::string path = setup.work + "/onconfig";
    char value[256] = {};
    const int result = ReadFromOnconfig(path.c_str(), "TAPEDEV", value);
    report["result"] = std::to_string(result);
    report["value"] = value;
}

void getRegistryItemValue(const Setup&, Report& report, Afterwards&) {
    char value[256] = "unchanged";
    const int result = GetRegistryItemValue("ifxUser", value, sizeof value, nullptr, false);
    report["result"] = std::to_string(result);
    report["value"] = value;
}

void moveByJxrename(const Setup& setup, Report& report, Afterwards& after) {
    std::string from = setup.work + "/from";
    std::string to = setup.work + "/to";
    errno = 0;
    const int result = jxrename(&from[0], &to[0]);
    const int error = errno;
    report["result"] = std::to_string(result);
    report["errno"] = std::to_string(result == 0 ? 0 : error);
    after.inspectRename = true;
}

void parentOfItself(const Setup&, Report& report, Afterwards&) {
    report["result"] = std::to_string(GET_PARENTPID(static_cast<int>(::getpid())));
}

void logOneLine(const Setup&, Report& report, Afterwards&) {
    EvEvent event;
    EvDebug::Debug(&event, "faultinject", "probe line");
    report["result"] = "0";
}

void prepareFiles(const Setup& setup) {
    writeFile(setup.work + "/onconfig",
              "# ONCONFIG of the fault-injection driver\nLTAPEDEV /dev/null\nTAPEDEV   /backup/tape"
              "   # the device\nTAPESIZE 0\n");
    ::mkdir((setup.work + "/registry").c_str(), 0755);
    writeFile(setup.work + "/registry/InformixAgent",
              "ifxPath /opt/informix\nifxUser  informix \n");
    writeFile(setup.work + "/from", "new");
    writeFile(setup.work + "/to", "old");
}

// Loads what the name service and the logger load on first use, so that a recording shows
// the library's calls, not one-time set-up that a long-running agent has long done.
void warmUp(const Setup& setup) {
    if (!setup.user.empty()) {
        const struct passwd* record = ::getpwnam(setup.user.c_str());
        if (record != nullptr) {
            gid_t groups[64];
            int count = 64;
            ::getgrouplist(setup.user.c_str(), record->pw_gid, groups, &count);
        }
    }
    EvEvent event;
}

std::string defaultUser() {
    if (::getuid() == 0) {
        return "nobody";
    }
    const struct passwd* record = ::getpwuid(::getuid());
    return record != nullptr ? record->pw_name : "";
}

void limitDescriptors() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur > kDescriptorLimit) {
        limit.rlim_cur = kDescriptorLimit;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Nothing may follow the "ready": the runner attaches strace as soon as it reads it.
void waitForGo() {
    writeAll("ready\n");
    sigset_t go;
    ::sigemptyset(&go);
    ::sigaddset(&go, SIGUSR1);
    while (::sigwaitinfo(&go, nullptr) < 0 && errno == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <operation> <work directory> <child program>\n", argv[0]);
        return 2;
    }
    // "<operation>.nostdio": the operation runs with descriptors 0, 1 and 2 closed, as in an
    // agent that detached from its terminal.
    std::string operation = argv[1];
    const size_t suffix = operation.rfind(kClosedStandardDescriptors);
    const bool closeStandard = suffix != std::string::npos &&
                               suffix + std::strlen(kClosedStandardDescriptors) == operation.size();
    if (closeStandard) {
        operation.erase(suffix);
    }
    const std::map<std::string, std::function<void(const Setup&, Report&, Afterwards&)>>
        operations = {
            {"Initialize", initialize},
            {"InitializeLinux.Wait",
             [](const Setup& s, Report& r, Afterwards&) { initializeLinux(s, false, r); }},
            {"InitializeLinux.BeginWait",
             [](const Setup& s, Report& r, Afterwards&) { initializeLinux(s, true, r); }},
            {"ReadFromOnconfig", readFromOnconfig},
            {"GetRegistryItemValue", getRegistryItemValue},
            {"jxrename", moveByJxrename},
            {"GET_PARENTPID", parentOfItself},
            {"Log", logOneLine},
        };
    const auto chosen = operations.find(operation);
    if (chosen == operations.end()) {
        std::fprintf(stderr, "unknown operation %s\n", operation.c_str());
        return 2;
    }
    sigset_t blocked;
    ::sigemptyset(&blocked);
    ::sigaddset(&blocked, SIGUSR1);
    ::sigaddset(&blocked, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
    limitDescriptors();
    // strace is not our parent: under Yama's ptrace scope 1 it may attach only when asked to.
    static_cast<void>(::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0));
    // An agent started as root has root's groups, group 0 among them: what a child that may
    // not set its own groups must not keep.
    if (::getuid() == 0) {
        ::initgroups("root", 0);
    }

    const Setup setup{argv[2], argv[3], defaultUser()};
    prepareFiles(setup);
    warmUp(setup);
    std::fflush(stdout);
    if (closeStandard) {
        g_report = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 10);
        for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
            ::close(fd);
        }
    }
    const std::vector<long> descriptorsBefore = numericEntries("/proc/self/fd");
    waitForGo();

    Report report;
    report["status"] = "none";
    Afterwards after;
    // Markers for the recording: calls nothing else makes, whose result does not matter.
    static_cast<void>(::access("/ifx-faultinject/begin", F_OK));
    try {
        chosen->second(setup, report, after);
        report["exception"] = "none";
    } catch (const std::bad_alloc&) {
        report["exception"] = "bad_alloc";
    } catch (const std::exception& error) {
        report["exception"] = std::string("exception:") + error.what();
    }
    static_cast<void>(::access("/ifx-faultinject/end", F_OK));

    if (after.reap > 0) {
        report["status"] = reap(after.reap);
    }
    if (after.inspectRename) {
        report["target"] = readFile(setup.work + "/to");
        report["source"] = readFile(setup.work + "/from");
    }

    if (closeStandard) {
        report["stdio"] = standardDescriptors();
    }
    report["fds_before"] = joined(descriptorsBefore);
    report["fds_after"] = joined(numericEntries("/proc/self/fd"));
    report["threads"] = std::to_string(liveThreads());
    report["children"] = children();
    std::string out;
    for (const auto& [key, value] : report) {
        out += key + "=" + value + "\n";
    }
    out += "end\n";
    writeAll(out);
    return 0;
}
