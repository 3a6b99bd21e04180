// ifxctl run's input path: 2,000,000 short lines through ifxctl to a utility that copies
// them to its output, as raw bytes (BM_IfxctlInput/raw) and as NUL-terminated commands
// (--commands, BM_IfxctlInput/commands). Command mode frames each line but must not pay
// a write (or a poll) per line: its time should stay within 2x of the raw run's.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kLines = 2000000;

// The input, written once per process to a file that is unlinked at once; each run
// reads it from the start through an inherited descriptor.
int inputFile() {
    static const int fd = [] {
        char name[] = "/tmp/ifxctl-bench-input.XXXXXX";
        const int fd = ::mkostemp(name, O_CLOEXEC);
        if (fd < 0) {
            std::abort();
        }
        ::unlink(name);
        std::string text;
        for (int i = 0; i < kLines; ++i) {
            text += "line " + std::to_string(i) + "\n";
        }
        for (size_t done = 0; done < text.size();) {
            const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
            if (written <= 0) {
                std::abort();
            }
            done += static_cast<size_t>(written);
        }
        return fd;
    }();
    return fd;
}

// One ifxctl run with the input file as standard input and the output discarded; its
// exit status.
int runIfxctl(bool commands) {
    std::vector<std::string> args{IFXBENCH_IFXCTL, "run"};
    if (commands) {
        args.push_back("--commands");
    }
    args.insert(args.end(), {"--", IFXBENCH_CHILD_HELPER, "--copy"});
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (::lseek(inputFile(), 0, SEEK_SET) != 0) {
        return -1;
    }
    ::posix_spawn_file_actions_adddup2(&actions, inputFile(), STDIN_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_IfxctlInput(benchmark::State& state) {
    const bool commands = state.range(0) != 0;
    state.SetLabel(commands ? "commands" : "raw");
    inputFile();
    ::setenv("JX_LOG_FILE", "/dev/null", 1);
    for (auto _ : state) {
        if (runIfxctl(commands) != 0) {
            state.SkipWithError("ifxctl run failed");
            return;
        }
    }
    state.counters["lines"] = kLines;
}
BENCHMARK(BM_IfxctlInput)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
