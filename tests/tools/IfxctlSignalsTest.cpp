// ifxctl run where timeout(1) keeps its promises and ifxctl once did not: a reader that
// stalls, the terminal's own signals, a utility that stopped itself. Each case waits for
// events, bounded only where a fault would hang.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/SystemPrograms.h"
#include "tools/IfxctlRunner.h"

namespace {

using ifxtest::IfxctlResult;
using ifxtest::IfxctlRunner;

constexpr int kHangBound = 120 * 1000;
const char kShell[] = "/bin/sh";

std::vector<std::string> runArgs(const std::vector<std::string>& options,
                                 const std::string& script) {
    std::vector<std::string> args{"run"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--", kShell, "-c", script});
    return args;
}

// The status of pid (exit code, or 128 + signal) once it ends; -1 when it still runs after
// a bound only a hang reaches (it is then killed).
int statusWithin(pid_t pid, int milliseconds) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        struct pollfd ended = {pidfd, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&ended, 1, milliseconds);
        } while (ready < 0 && errno == EINTR);
        ::close(pidfd);
        if (ready == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return -1;
        }
    }
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
}

// Until the pipe behind fd holds half of what it can: the writer is about to be stuck in
// its write, if it ever blocks there. (How full a pipe of partly filled pages is cannot be
// told from outside; the time limit's cases below need no such guess.) Checked at short
// intervals: a pipe tells no event for filling up.
bool waitUntilFilling(int fd) {
    const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
    for (int waited = 0; waited < kHangBound; waited += 5) {
        int held = 0;
        if (::ioctl(fd, FIONREAD, &held) != 0) {
            return false;
        }
        if (held >= capacity / 2) {
            return true;
        }
        ::poll(nullptr, 0, 5);
    }
    return false;
}

// Standard output is a pipe that nobody reads: the time limit, --kill-after and a stop
// request still act at once, and what ifxctl held is dropped and counted.
TEST(IfxctlStalledReader, KeepsTheLimitAndPassesSignalsOn) {
    IFXTEST_SKIP_WITHOUT_PROGRAM(kShell);
    const std::string repeat = std::string("exec ") + ifxtest::ChildHelperPath() + " --repeat y";
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::string script;
        int requestFromOutside;  // a signal sent to ifxctl once its output is stuck
        int status;
        const char* lastWords;
    } cases[] = {
        {"time limit",
         {"--timeout", "0.2"},
         repeat,
         0,
         124,
         "time limit of 0.2s reached: the utility was sent SIGTERM\n"},
        {"kill after",
         {"--timeout", "0.2", "--kill-after", "0.2"},
         "trap '' TERM; " + repeat,
         0,
         137,
         "time limit of 0.2s reached: the utility was sent SIGTERM, and SIGKILL 0.2s later\n"},
        {"stop request", {}, repeat, SIGTERM, 128 + SIGTERM, "ended by signal 15 (Terminated)\n"},
        {"direct launch",
         {"--direct", "--timeout", "0.2"},
         repeat,
         0,
         124,
         "time limit of 0.2s reached: the utility was sent SIGTERM\n"},
    };
    IfxctlRunner ifxctl;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IfxctlRunner::Started started = ifxctl.Start(runArgs(c.options, c.script));
        ASSERT_GT(started.pid, 0);
        if (c.requestFromOutside != 0) {
            ASSERT_TRUE(waitUntilFilling(started.output));
            ASSERT_EQ(::kill(started.pid, c.requestFromOutside), 0);
        }
        const int status = statusWithin(started.pid, kHangBound);
        ::close(started.input);
        ::close(started.output);
        IfxctlResult result;
        result.status = status;
        std::ifstream errors(started.errPath);
        result.err.assign(std::istreambuf_iterator<char>(errors), {});
        EXPECT_EQ(result.status, c.status) << result.err;
        // Whether ifxctl still held output nobody took when it ended depends on how far the
        // utility came before the limit, which a slow machine decides: the drop message may
        // come or not, but nothing may follow the last words.
        const std::string last = std::string("ifxctl: ") + c.lastWords;
        ASSERT_GE(result.err.size(), last.size());
        EXPECT_EQ(result.err.substr(result.err.size() - last.size()), last);
    }
}

// A stopped utility acts on nothing but SIGKILL: the time limit's signal is followed by
// SIGCONT, in the utility's own process group and in ours.
TEST(IfxctlStoppedUtility, IsContinuedAfterTheLimitsSignal) {
    IFXTEST_SKIP_WITHOUT_PROGRAM(kShell);
    const std::vector<std::string> cases[] = {
        {"--timeout", "0.2"},
        {"--timeout", "0.2", "--kill-after", "1000"},
        {"--foreground", "--timeout", "0.2"},
        {"--direct", "--timeout", "0.2"},
    };
    IfxctlRunner ifxctl;
    for (const auto& options : cases) {
        SCOPED_TRACE(options.front());
        const IfxctlResult result = ifxctl.Run(runArgs(options, "kill -STOP $$; exit 3"));
        EXPECT_EQ(result.status, 124) << result.err;
        EXPECT_EQ(result.err, "ifxctl: time limit of 0.2s reached: the utility was sent SIGTERM\n");
    }
}

// ifxctl on a pseudo-terminal of the test's own, leading its session as a shell's job
// would lead the terminal's foreground group.
class Terminal {
  public:
    Terminal() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master >= 0 && (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)) {
            ::close(m_master);
            m_master = -1;
        }
    }
    ~Terminal() {
        Hangup();
        if (m_pid > 0) {
            statusWithin(m_pid, kHangBound);
        }
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool Open() const { return m_master >= 0; }

    bool Start(const std::vector<std::string>& args) {
        const std::string slave = ::ptsname(m_master);
        std::vector<std::string> words{ifxtest::IfxctlPath()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            // The new session's first terminal becomes its controlling terminal.
            if (::setsid() < 0) {
                ::_exit(120);
            }
            const int fd = ::open(slave.c_str(), O_RDWR);
            if (fd < 0 || ::dup2(fd, 0) < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0) {
                ::_exit(121);
            }
            ::execv(argv[0], argv.data());
            ::_exit(122);
        }
        return m_pid > 0;
    }

    // Reads what the terminal shows until text appears; false at its end or after a bound
    // only a hang reaches.
    bool Shows(const std::string& text) {
        char buffer[1024];
        while (m_seen.find(text) == std::string::npos) {
            struct pollfd readable = {m_master, POLLIN, 0};
            if (::poll(&readable, 1, kHangBound) != 1) {
                return false;
            }
            const ssize_t received = ::read(m_master, buffer, sizeof buffer);
            if (received <= 0) {
                return false;
            }
            m_seen.append(buffer, static_cast<size_t>(received));
        }
        return true;
    }

    bool Type(const std::string& keys) {
        return ::write(m_master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }

    // Closing the terminal's master side hangs the terminal up.
    void Hangup() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

    // ifxctl's status; what the terminal showed is read meanwhile, so that no write of
    // ifxctl's waits for it.
    int Status() {
        while (m_master >= 0 && Shows("\x01never shown")) {
        }
        const int status = statusWithin(m_pid, kHangBound);
        m_pid = -1;
        return status;
    }

    const std::string& Seen() const { return m_seen; }

  private:
    int m_master = -1;
    pid_t m_pid = -1;
    std::string m_seen;
};

// Ctrl-C and a hangup reach a utility in a process group of its own: the kernel signals
// the terminal's foreground group, ifxctl's, and ifxctl passes them on.
TEST(IfxctlTerminal, PassesCtrlCAndHangupOn) {
    IFXTEST_SKIP_WITHOUT_PROGRAM(kShell);
    const std::string loop = "echo ready; while :; do sleep 1; done";
    const struct {
        const char* name;
        std::string script;
        bool hangup;  // else Ctrl-C
        int status;
    } cases[] = {
        {"Ctrl-C, trapped", "trap 'exit 3' INT; " + loop, false, 3},
        {"Ctrl-C", "echo ready; exec sleep 1000", false, 128 + SIGINT},
        {"hangup, trapped", "trap 'exit 4' HUP; " + loop, true, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal terminal;
        ASSERT_TRUE(terminal.Open()) << std::strerror(errno);
        ASSERT_TRUE(terminal.Start(runArgs({}, c.script)));
        ASSERT_TRUE(terminal.Shows("ready")) << terminal.Seen();
        if (c.hangup) {
            terminal.Hangup();
        } else {
            ASSERT_TRUE(terminal.Type("\x03"));
        }
        EXPECT_EQ(terminal.Status(), c.status) << terminal.Seen();
    }
}

}  // namespace
