#include "TestRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <regex.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ifxsystem {

namespace {

double now() {
    struct timespec time {};
    ::clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

void say(const std::string& line) {
    writeAll(STDOUT_FILENO, line + "\n");
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

std::vector<std::string> numericEntries(const std::string& dirPath) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(dirPath.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return names;
}

// The process group of the process whose /proc/<pid>/stat this is, or -1. The command
// name in parentheses may hold blanks and parentheses, so fields count from the last ')'.
long processGroupOf(const std::string& stat) {
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    long parent = 0;
    long group = -1;
    fields >> state >> parent >> group;
    return fields ? group : -1;
}

// What every thread of every process in the group waits in: the guest kernel has no stack
// traces, so the system call each one is in (number and arguments: a futex's address
// tells which lock), its wait channel and its state are what a hang leaves to read.
std::string describeGroup(pid_t group) {
    std::string text;
    for (const std::string& pid : numericEntries("/proc")) {
        const std::string process = "/proc/" + pid;
        if (processGroupOf(readFile(process + "/stat")) != group) {
            continue;
        }
        text += "ifxtest:   process " + pid + " (" + trimmed(readFile(process + "/comm")) + ")\n";
        for (const std::string& tid : numericEntries(process + "/task")) {
            const std::string task = process + "/task/" + tid;
            text += "ifxtest:     thread " + tid +
                    " syscall: " + trimmed(readFile(task + "/syscall")) +
                    "; wchan: " + trimmed(readFile(task + "/wchan")) +
                    "; stat: " + trimmed(readFile(task + "/stat")) + "\n";
        }
    }
    return text.empty() ? "ifxtest:   no process left in the group\n" : text;
}

// The base environment with the test's own NAME=VALUE entries over it.
std::vector<std::string> environmentOf(const TestList& list, const TestCase& test) {
    std::vector<std::string> env = list.baseEnv;
    for (const std::string& entry : test.env) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (std::string& existing : env) {
            if (existing.compare(0, name.size(), name) == 0) {
                existing = entry;
                replaced = true;
            }
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    return env;
}

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// A test whose command runs a script of ours needs the script's interpreter. Returns why
// the test cannot run here, or an empty string.
std::string missingInterpreter(const TestCase& test) {
    for (const std::string& arg : test.args) {
        struct stat info {};
        if (arg.empty() || arg[0] != '/' || ::stat(arg.c_str(), &info) != 0 ||
            !S_ISREG(info.st_mode) || (info.st_mode & S_IXUSR) == 0) {
            continue;
        }
        std::ifstream file(arg);
        std::string first;
        std::getline(file, first);
        if (first.rfind("#!", 0) != 0) {
            continue;
        }
        std::istringstream words(first.substr(2));
        std::string interpreter;
        words >> interpreter;
        if (::access(interpreter.c_str(), X_OK) != 0) {
            return "runs the script " + arg + ", whose interpreter " + interpreter +
                   " this system does not have";
        }
    }
    return "";
}

// What gtest says after "Skipped": the line that follows it.
std::string skipReason(const std::string& output) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() >= 7 && line.compare(line.size() - 7, 7, "Skipped") == 0) {
            std::string reason;
            while (std::getline(lines, reason) && reason.empty()) {
            }
            return reason;
        }
    }
    return "";
}

bool matchesAny(const std::vector<std::string>& patterns, const std::string& text) {
    for (const std::string& pattern : patterns) {
        regex_t compiled;
        if (::regcomp(&compiled, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
            continue;
        }
        const bool matched = ::regexec(&compiled, text.c_str(), 0, nullptr, 0) == 0;
        ::regfree(&compiled);
        if (matched) {
            return true;
        }
    }
    return false;
}

struct Running {
    size_t index = 0;
    pid_t pid = -1;
    int pidfd = -1;
    double started = 0;
    bool timedOut = false;
    std::string outputPath;
};

struct Tally {
    int passed = 0;
    int skipped = 0;
    int failed = 0;
    std::vector<std::string> skips;     // "<name>: <reason>"
    std::vector<std::string> failures;  // "<name>: <result>"
};

class Runner {
  public:
    Runner(const TestList& list, int jobs, const std::string& outputDir)
        : m_list(list), m_jobs(jobs < 1 ? 1 : jobs), m_outputDir(outputDir) {}

    int run() {
        say("ifxtest: " + std::to_string(m_list.tests.size()) + " tests, " +
            std::to_string(m_jobs) + " at a time");
        size_t next = 0;
        while (next < m_list.tests.size() || !m_running.empty()) {
            while (next < m_list.tests.size() && canStart(m_list.tests[next])) {
                start(next++);
            }
            waitForAnEnd();
        }
        for (const std::string& skip : m_tally.skips) {
            say("ifxtest skipped: " + skip);
        }
        for (const std::string& failure : m_tally.failures) {
            say("ifxtest failed: " + failure);
        }
        say("ifxtest summary: " + std::to_string(m_list.tests.size()) + " tests, " +
            std::to_string(m_tally.passed) + " passed, " + std::to_string(m_tally.skipped) +
            " skipped, " + std::to_string(m_tally.failed) + " failed");
        return m_tally.failed;
    }

  private:
    bool canStart(const TestCase& test) const {
        if (m_running.empty()) {
            return true;
        }
        if (test.serial || m_serialRunning) {
            return false;
        }
        return m_running.size() < static_cast<size_t>(m_jobs);
    }

    void start(size_t index) {
        const TestCase& test = m_list.tests[index];
        const std::string cannotRun = missingInterpreter(test);
        if (!cannotRun.empty()) {
            report(test, "ifxtest: start " + test.name + "\n", false, true, cannotRun, 0);
            return;
        }
        Running running;
        running.index = index;
        const std::string cannotEnter = "ifxtest: cannot enter the working directory " + test.dir;
        running.outputPath = m_outputDir + "/" + std::to_string(index) + ".out";
        // Everything the child needs is ready before fork: the child only calls the
        // system.
        std::vector<std::string> args = test.args;
        std::vector<std::string> env = environmentOf(m_list, test);
        std::vector<char*> argv = pointersTo(args);
        std::vector<char*> envp = pointersTo(env);
        const int output =
            ::open(running.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (output < 0 || input < 0) {
            say("ifxtest: cannot open the output of " + test.name + ": " + std::strerror(errno));
            ::_exit(2);
        }
        running.started = now();
        running.pid = ::fork();
        if (running.pid == 0) {
            runChild(test.dir.c_str(), cannotEnter.c_str(), argv.data(), envp.data(), input,
                     output);
        }
        ::close(output);
        ::close(input);
        if (running.pid < 0) {
            say("ifxtest: fork failed for " + test.name + ": " + std::strerror(errno));
            ::_exit(2);
        }
        running.pidfd = static_cast<int>(::syscall(SYS_pidfd_open, running.pid, 0));
        if (running.pidfd < 0) {
            say("ifxtest: pidfd_open failed: " + std::string(std::strerror(errno)));
            ::_exit(2);
        }
        m_serialRunning = m_serialRunning || test.serial;
        m_running.push_back(running);
    }

    // The test's own process group, so that a time-out ends whatever it started.
    [[noreturn]] static void runChild(const char* dir, const char* cannotEnter, char* const* argv,
                                      char* const* envp, int input, int output) {
        ::setpgid(0, 0);
        if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
            ::dup2(output, STDERR_FILENO) < 0) {
            ::_exit(126);
        }
        if (::chdir(dir) != 0) {
            // The runner has one thread, so strerror is safe here.
            const std::string message =
                std::string(cannotEnter) + ": " + std::strerror(errno) + "\n";
            (void)!::write(STDERR_FILENO, message.data(), message.size());
            ::_exit(127);
        }
        ::execve(argv[0], argv, envp);
        static const char message[] = "ifxtest: cannot execute the test program\n";
        (void)!::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(127);
    }

    // Blocks until a running test ends or the nearest time-out passes.
    void waitForAnEnd() {
        if (m_running.empty()) {
            return;
        }
        std::vector<struct pollfd> fds;
        double nearest = -1;
        for (const Running& running : m_running) {
            fds.push_back({running.pidfd, POLLIN, 0});
            const long timeout = m_list.tests[running.index].timeoutSeconds;
            if (timeout > 0 && !running.timedOut) {
                const double deadline = running.started + static_cast<double>(timeout);
                nearest = nearest < 0 || deadline < nearest ? deadline : nearest;
            }
        }
        int waitMs = -1;
        if (nearest >= 0) {
            const double left = nearest - now();
            waitMs = left <= 0 ? 0 : static_cast<int>(left * 1000) + 1;
        }
        const int ready = ::poll(fds.data(), fds.size(), waitMs);
        if (ready < 0 && errno != EINTR) {
            say("ifxtest: poll failed: " + std::string(std::strerror(errno)));
            ::_exit(2);
        }
        std::vector<Running> still;
        for (size_t i = 0; i < m_running.size(); ++i) {
            Running& running = m_running[i];
            if (ready > 0 && (fds[i].revents & POLLIN) != 0) {
                finish(running);
                continue;
            }
            const long timeout = m_list.tests[running.index].timeoutSeconds;
            if (timeout > 0 && !running.timedOut &&
                now() >= running.started + static_cast<double>(timeout)) {
                running.timedOut = true;
                say("ifxtest: " + m_list.tests[running.index].name + " timed out after " +
                    std::to_string(timeout) + " s; what its threads wait in:\n" +
                    trimmed(describeGroup(running.pid)));
                ::kill(-running.pid, SIGKILL);
            }
            still.push_back(running);
        }
        m_running = still;
        m_serialRunning = false;
        for (const Running& running : m_running) {
            m_serialRunning = m_serialRunning || m_list.tests[running.index].serial;
        }
    }

    void finish(const Running& running) {
        const TestCase& test = m_list.tests[running.index];
        int status = 0;
        pid_t reaped;
        do {
            reaped = ::waitpid(running.pid, &status, 0);
        } while (reaped < 0 && errno == EINTR);
        const double seconds = now() - running.started;
        // Whatever the test left running in its group goes with it.
        ::kill(-running.pid, SIGKILL);
        ::close(running.pidfd);
        std::string output = readFile(running.outputPath);
        ::unlink(running.outputPath.c_str());
        if (!output.empty() && output.back() != '\n') {
            output += '\n';
        }

        std::string result;
        bool passed = false;
        bool skipped = false;
        std::string reason;
        if (running.timedOut) {
            result = "timed out after " + std::to_string(test.timeoutSeconds) + " s";
        } else if (WIFSIGNALED(status)) {
            result = "ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                     ::strsignal(WTERMSIG(status)) + ")";
        } else {
            const int code = WEXITSTATUS(status);
            skipped = code == test.skipCode || matchesAny(test.skipRegexes, output);
            passed = (code == 0) != test.willFail;
            result = "exit code " + std::to_string(code);
            reason = skipped ? skipReason(output) : "";
        }
        if (skipped) {
            report(test, "ifxtest: start " + test.name + "\n" + output, false, true, reason,
                   seconds);
        } else {
            report(test, "ifxtest: start " + test.name + "\n" + output, passed, false, result,
                   seconds);
        }
    }

    void report(const TestCase& test, const std::string& block, bool passed, bool skipped,
                const std::string& detail, double seconds) {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.2f s", seconds);
        std::string line = "ifxtest: " + test.name + " ";
        if (skipped) {
            ++m_tally.skipped;
            m_tally.skips.push_back(test.name + ": " + detail);
            line += "skipped (" + std::string(elapsed) + "): " + detail;
        } else if (passed) {
            ++m_tally.passed;
            line += "passed (" + std::string(elapsed) + ")";
        } else {
            ++m_tally.failed;
            m_tally.failures.push_back(test.name + ": " + detail);
            line += "FAILED (" + std::string(elapsed) + "): " + detail;
        }
        writeAll(STDOUT_FILENO, block + line + "\n");
    }

    const TestList& m_list;
    const int m_jobs;
    const std::string m_outputDir;
    std::vector<Running> m_running;
    bool m_serialRunning = false;
    Tally m_tally;
};

}  // namespace

int RunTests(const TestList& list, int jobs, const std::string& outputDir) {
    return Runner(list, jobs, outputDir).run();
}

}  // namespace ifxsystem
