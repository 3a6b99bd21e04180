#include "tools/IfxctlRunner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>

extern char** environ;

namespace ifxtest {

namespace {

std::vector<char*> pointersTo(std::vector<std::string>& items) {
    std::vector<char*> pointers;
    for (std::string& item : items) {
        pointers.push_back(item.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

int statusOf(pid_t pid) {
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &raw, 0);
    } while (result < 0 && errno == EINTR);
    if (result != pid) {
        ADD_FAILURE() << "waitpid: " << std::strerror(errno);
        return -1;
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// A name for each run's files: runs of one test may follow each other.
std::string nextName(const char* what) {
    static std::atomic<int> counter{0};
    return std::string(what) + "-" + std::to_string(counter++);
}

// posix_spawn of ifxctl, behind the wrapper command when there is one, with the given
// file actions.
pid_t spawn(const std::vector<std::string>& wrapper, const std::vector<std::string>& args,
            std::vector<std::string> env, const posix_spawn_file_actions_t* actions) {
    std::vector<std::string> argv = wrapper;
    argv.push_back(IfxctlPath());
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers = pointersTo(argv);
    std::vector<char*> envPointers = pointersTo(env);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv[0].c_str(), actions, nullptr, argvPointers.data(),
                                    envPointers.data());
    if (error != 0) {
        ADD_FAILURE() << "posix_spawn " << argv[0] << ": " << std::strerror(error);
        return -1;
    }
    return pid;
}

}  // namespace

const char* IfxctlPath() {
    return IFXTEST_IFXCTL;
}

const char* ChildHelperPath() {
    return IFXTEST_CHILD_HELPER;
}

IfxctlRunner::IfxctlRunner() = default;

std::vector<std::string> IfxctlRunner::environment(const EnvChanges& changes) const {
    std::map<std::string, std::optional<std::string>> wanted{{"JX_LOG_FILE", logPath()},
                                                             {"JX_DEBUG_LEVEL", std::nullopt}};
    for (const auto& [name, value] : changes) {
        wanted[name] = value;
    }
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (wanted.count(text.substr(0, text.find('='))) == 0) {
            env.push_back(text);
        }
    }
    for (const auto& [name, value] : wanted) {
        if (value) {
            env.push_back(name + "=" + *value);
        }
    }
    return env;
}

IfxctlResult IfxctlRunner::Run(const std::vector<std::string>& args, const std::string& input,
                               const EnvChanges& env) const {
    const std::string name = nextName("run");
    const std::string inPath = m_dir.write(name + ".in", input);
    const std::string outPath = m_dir.file(name + ".out");
    const std::string errPath = m_dir.file(name + ".err");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inPath.c_str(), O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = spawn(m_wrapper, args, environment(env), &actions);
    ::posix_spawn_file_actions_destroy(&actions);
    IfxctlResult result;
    if (pid > 0) {
        result.status = statusOf(pid);
        result.out = readFile(outPath);
        result.err = readFile(errPath);
    }
    return result;
}

IfxctlRunner::Started IfxctlRunner::Start(const std::vector<std::string>& args,
                                          const std::string& inputPath, const EnvChanges& env,
                                          bool errorToOutput) const {
    Started started;
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2: " << std::strerror(errno);
        return started;
    }
    started.errPath = m_dir.file(nextName("started") + ".err");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (inputPath.empty()) {
        ::posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    } else {
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputPath.c_str(), O_RDONLY, 0);
    }
    ::posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    if (errorToOutput) {
        ::posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    } else {
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, started.errPath.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    started.pid = spawn(m_wrapper, args, environment(env), &actions);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    if (!inputPath.empty()) {
        ::close(input[1]);
        input[1] = -1;
    }
    started.input = input[1];
    started.output = output[0];
    return started;
}

IfxctlResult IfxctlRunner::Wait(const Started& started) {
    IfxctlResult result;
    if (started.pid > 0) {
        result.status = statusOf(started.pid);
        result.err = readFile(started.errPath);
    }
    return result;
}

bool WriteAllTo(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

bool ReadUntil(int fd, std::string& text, const std::string& wanted) {
    char buffer[4096];
    while (text.find(wanted) == std::string::npos) {
        const ssize_t received = ::read(fd, buffer, sizeof buffer);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            return false;
        }
        text.append(buffer, static_cast<size_t>(received));
    }
    return true;
}

}  // namespace ifxtest
