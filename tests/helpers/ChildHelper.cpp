// Stand-in for a utility driven over pipes. It reads NUL-terminated commands from its
// standard input and answers each on one line of its standard output:
//
//   echo <text>    "<text>"
//   ids            "uid=<u> gid=<g> groups=<g1>,<g2>,..."   (sorted)
//   env <name>     "<value>", or "<unset>"
//   args           "argc=<n>" then "|<arg>" for each argument
//   fds            "fds=<n>,<n>,..." (the open descriptors, sorted; found by trying
//                  every number up to the hard limit where /proc cannot be read)
//   stderr <text>  "<text>" on standard error instead
//   exit <code>    ends at once with that code
//   sleep <ms>     pauses, then answers "slept"
//   signal <n>     "default", "ignored" or "caught": what signal n does to the helper
//   hold           answers "holding", then never reads its input again (until killed)
//   raise <n>      sends itself signal n (whose default action may end it)
//   close-input    closes its standard input, which then is at its end
//   pid            "<pid>": its own process id
//   fork-hold      starts a process that holds the helper's descriptors (its output pipe
//                  among them) until killed, and answers "<pid>" of that process
//   ignore <n>     ignores signal n from then on, answers "ignoring"
//   grandchild [keep-output] [ignore-term]
//                  starts a process of its own (in its process group, its streams on
//                  /dev/null) that waits until a signal ends it; answers "<pid>" of it.
//                  keep-output: it keeps the helper's standard output instead, so that
//                  the output ends only once it has gone too; ignore-term: it ignores
//                  SIGTERM
//   on-term <code> catches SIGTERM and then ends with that code; answers "trapping"
//
// At the end of its input it exits with 0.
//
// Started with one of these options, it reads no input and does only that, so that it can
// stand in for small system programs a test would otherwise need (a minimal system has
// none):
//
//   --exit <code>             ends at once with that code (as true and false do)
//   --status <name>...        prints the lines "<name>:..." of /proc/self/status, in the
//                             file's order, and ends with 0
//   --copy                    copies its input to its output byte for byte (as cat does)
//   --repeat <text>           writes "<text>" lines for ever, reading nothing (as yes
//                             does), until a write fails
//   --lines <prefix>          answers each line of its input, a last one without its
//                             newline too, with "<prefix><line>" (as a shell's read loop)
//
// and with this one it reads its input once the commands given have run, as a small shell
// script would before it:
//
//   --commands <command>...   runs each argument as a command first

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

int g_argc = 0;
char** g_argv = nullptr;

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::_Exit(3);
        }
        done += static_cast<size_t>(n);
    }
}

std::string joined(std::vector<long> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(values[i]);
    }
    return text;
}

std::string ids() {
    std::vector<gid_t> groups(static_cast<size_t>(::getgroups(0, nullptr)));
    groups.resize(static_cast<size_t>(::getgroups(static_cast<int>(groups.size()), groups.data())));
    return "uid=" + std::to_string(::getuid()) + " gid=" + std::to_string(::getgid()) +
           " groups=" + joined(std::vector<long>(groups.begin(), groups.end()));
}

std::string probedDescriptors() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return "fds=?";
    }
    std::vector<long> fds;
    for (rlim_t fd = 0; fd < limit.rlim_max; ++fd) {
        if (::fcntl(static_cast<int>(fd), F_GETFD) != -1) {
            fds.push_back(static_cast<long>(fd));
        }
    }
    return "fds=" + joined(fds);
}

std::string openDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return probedDescriptors();
    }
    std::vector<long> fds;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            fds.push_back(std::strtol(entry->d_name, nullptr, 10));
        }
    }
    const long own = ::dirfd(dir);
    ::closedir(dir);
    fds.erase(std::remove(fds.begin(), fds.end(), own), fds.end());
    return "fds=" + joined(fds);
}

std::string arguments() {
    std::string text = "argc=" + std::to_string(g_argc);
    for (int i = 0; i < g_argc; ++i) {
        text += std::string("|") + g_argv[i];
    }
    return text;
}

void pause(long milliseconds) {
    struct timespec left {
        milliseconds / 1000, (milliseconds % 1000) * 1000000L
    };
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::string disposition(int signal) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0) {
        return "invalid";
    }
    if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL) {
        return "default";
    }
    if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) {
        return "ignored";
    }
    return "caught";
}

[[noreturn]] void holdForever() {
    sigset_t none;
    ::sigemptyset(&none);
    for (;;) {
        ::sigsuspend(&none);
    }
}

// The grandchild keeps none of our streams, so that the end of our output is ours alone,
// unless it is to keep our output.
pid_t startGrandchild(const std::string& options) {
    const bool keepOutput = options.find("keep-output") != std::string::npos;
    const bool ignoreTerm = options.find("ignore-term") != std::string::npos;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd) {
            if (!keepOutput || fd != STDOUT_FILENO) {
                ::dup2(null, fd);
            }
        }
        if (ignoreTerm) {
            ::signal(SIGTERM, SIG_IGN);
        }
        holdForever();
    }
    return pid;
}

int g_exitOnTerm = 0;

void exitOnTerm(int) {
    ::_exit(g_exitOnTerm);
}

void run(const std::string& command) {
    const size_t blank = command.find(' ');
    const std::string verb = command.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : command.substr(blank + 1);
    if (verb == "echo") {
        writeAll(STDOUT_FILENO, rest + "\n");
    } else if (verb == "ids") {
        writeAll(STDOUT_FILENO, ids() + "\n");
    } else if (verb == "env") {
        const char* value = std::getenv(rest.c_str());
        writeAll(STDOUT_FILENO, std::string(value != nullptr ? value : "<unset>") + "\n");
    } else if (verb == "args") {
        writeAll(STDOUT_FILENO, arguments() + "\n");
    } else if (verb == "fds") {
        writeAll(STDOUT_FILENO, openDescriptors() + "\n");
    } else if (verb == "stderr") {
        writeAll(STDERR_FILENO, rest + "\n");
    } else if (verb == "exit") {
        std::_Exit(std::atoi(rest.c_str()));
    } else if (verb == "signal") {
        writeAll(STDOUT_FILENO, disposition(std::atoi(rest.c_str())) + "\n");
    } else if (verb == "hold") {
        writeAll(STDOUT_FILENO, "holding\n");
        holdForever();
    } else if (verb == "raise") {
        ::raise(std::atoi(rest.c_str()));
    } else if (verb == "close-input") {
        ::close(STDIN_FILENO);
    } else if (verb == "pid") {
        writeAll(STDOUT_FILENO, std::to_string(::getpid()) + "\n");
    } else if (verb == "fork-hold") {
        const pid_t holder = ::fork();
        if (holder == 0) {
            holdForever();
        }
        writeAll(STDOUT_FILENO, std::to_string(holder) + "\n");
    } else if (verb == "ignore") {
        ::signal(std::atoi(rest.c_str()), SIG_IGN);
        writeAll(STDOUT_FILENO, "ignoring\n");
    } else if (verb == "grandchild") {
        writeAll(STDOUT_FILENO, std::to_string(startGrandchild(rest)) + "\n");
    } else if (verb == "on-term") {
        g_exitOnTerm = std::atoi(rest.c_str());
        struct sigaction action {};
        action.sa_handler = exitOnTerm;
        ::sigaction(SIGTERM, &action, nullptr);
        writeAll(STDOUT_FILENO, "trapping\n");
    } else if (verb == "sleep") {
        pause(std::atol(rest.c_str()));
        writeAll(STDOUT_FILENO, "slept\n");
    } else {
        writeAll(STDOUT_FILENO, "unknown " + command + "\n");
    }
}

// The lines of /proc/self/status named in names, in the file's order.
std::string statusLines(const std::vector<std::string>& names) {
    std::ifstream status("/proc/self/status");
    std::string line;
    std::string picked;
    while (std::getline(status, line)) {
        const std::string name = line.substr(0, line.find(':'));
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            picked += line + "\n";
        }
    }
    return picked;
}

// Reads standard input to its end, handing each piece read to consume.
template <typename Consume>
void readInput(Consume consume) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        consume(buffer, static_cast<size_t>(n));
    }
}

[[noreturn]] void copyInput() {
    readInput(
        [](const char* data, size_t size) { writeAll(STDOUT_FILENO, std::string(data, size)); });
    std::_Exit(0);
}

[[noreturn]] void answerLines(const std::string& prefix) {
    std::string line;
    readInput([&](const char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\n') {
                writeAll(STDOUT_FILENO, prefix + line + "\n");
                line.clear();
            } else {
                line += data[i];
            }
        }
    });
    if (!line.empty()) {
        writeAll(STDOUT_FILENO, prefix + line + "\n");
    }
    std::_Exit(0);
}

// The options given; returns when the helper is to read its input.
void runOption(int argc, char** argv) {
    if (argc < 2) {
        return;
    }
    const std::string option = argv[1];
    if (option == "--exit" && argc == 3) {
        std::_Exit(std::atoi(argv[2]));
    }
    if (option == "--status") {
        writeAll(STDOUT_FILENO, statusLines(std::vector<std::string>(argv + 2, argv + argc)));
        std::_Exit(0);
    }
    if (option == "--repeat" && argc == 3) {
        const std::string line = std::string(argv[2]) + "\n";
        for (;;) {
            writeAll(STDOUT_FILENO, line);
        }
    }
    if (option == "--copy" && argc == 2) {
        copyInput();
    }
    if (option == "--lines" && argc == 3) {
        answerLines(argv[2]);
    }
    if (option == "--commands") {
        for (int i = 2; i < argc; ++i) {
            run(argv[i]);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
    runOption(argc, argv);
    std::string command;
    readInput([&](const char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\0') {
                run(command);
                command.clear();
            } else {
                command += data[i];
            }
        }
    });
    return 0;
}
