// InitializeLinux: the launch through the process service and its parameter block.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "childprocess/ChildTestSupport.h"
#include "support/LogFile.h"
#include "support/Sanitizers.h"

namespace {

using ifxtest::Launch;

const char kTag[] = "IfxChildProcess::InitializeLinux";
const char kChildTag[] = " IfxChildProcess::PostFork";

TEST(ProcessServiceLaunch, StartsTheChildThroughTheProcessService) {
    ifxtest::LogFile log;  // level 0: every line below is written without a level
    EvEvent event;
    IfxChildProcess child;
    ifxtest::LaunchArgs args;
    args.event = &event;
    args.envNames = std::vector<std::string>{"IFXT_ONE"};
    args.envValues = std::vector<std::string>{"1"};
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, args), 0);
    ASSERT_NE(child.m_pprocess, nullptr);
    EXPECT_EQ(child.m_childpid, child.m_pprocess->GetChildPid());
    EXPECT_EQ(child.m_pevent, &event);
    EXPECT_EQ(ifxtest::Ask(child, "echo hi"), "hi");
    child.Finalize();
    EXPECT_EQ(child.Wait(0), 0);

    const std::string path = ifxtest::ChildHelperPath();
    const std::string user = ifxtest::UserName(::getuid());
    EXPECT_TRUE(log.has(kTag, "Parent: child process pid= " + std::to_string(child.m_childpid)));
    EXPECT_TRUE(log.has("IfxChildProcess::SetPostForkParam", "Parent path = " + path));
    EXPECT_TRUE(log.has("IfxChildProcess::SetPostForkParam", "Parent ifxUser = " + user));
    EXPECT_TRUE(log.has("IfxChildProcess::GetPostForkParam", "Child path = " + path));
    EXPECT_TRUE(log.has("IfxChildProcess::GetPostForkParam", "Child env[IFXT_ONE]=1"));
    EXPECT_FALSE(log.hasContaining("IfxChildProcess::SetPostForkParam", "Parent env["))
        << "the parent's pairs are traced at level 2";
    for (const char* message :
         {"Entering function", "Child SETENVIRONMENTVARIABLE(0): IFXT_ONE=1"}) {
        EXPECT_TRUE(log.has(kChildTag, message)) << message;
    }
    EXPECT_TRUE(log.has(kChildTag, "Child exec " + path));
    for (const ifxtest::LogLine& line : log.lines()) {
        if (line.tag == kChildTag) {
            EXPECT_EQ(line.pid, child.m_childpid) << line.message;
        }
    }
}

TEST(ProcessServiceLaunch, NullEventWritesNoLine) {
    ifxtest::LogFile log(12);
    IfxChildProcess child;
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, {}), 0);
    EXPECT_EQ(ifxtest::Ask(child, "echo quiet"), "quiet");
    child.Finalize();
    EXPECT_EQ(child.Wait(0), 0);
    EXPECT_TRUE(log.has(kChildTag, "Entering function")) << "the child has an event of its own";
    for (const ifxtest::LogLine& line : log.lines()) {
        EXPECT_EQ(line.pid, child.m_childpid) << "written by the parent: " << line.message;
    }
}

// What the block can hold launches; what it cannot is refused before anything is made.
TEST(ProcessServiceLaunch, LaunchesOnlyWhatTheParameterBlockHolds) {
    std::vector<std::string> nineteen(19, "a");
    nineteen[0] = "helper";
    std::vector<std::string> names, values;
    for (int i = 0; i < 15; ++i) {
        names.push_back("IFXT_P" + std::to_string(i));
        values.push_back(std::to_string(i));
    }
    ifxtest::LaunchArgs full;
    full.argv = nineteen;
    full.envNames = names;
    full.envValues = values;
    {
        IfxChildProcess child;
        ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, full), 0);
        EXPECT_EQ(ifxtest::Ask(child, "args").substr(0, 8), "argc=19|");
        EXPECT_EQ(ifxtest::Ask(child, "env IFXT_P14"), "14");
        child.Finalize();
        EXPECT_EQ(child.Wait(0), 0);
    }

    struct Case {
        const char* name;
        ifxtest::LaunchArgs args;
        bool nullPath;
        bool nullUser;
        int error;
    };
    std::vector<Case> cases(6);
    cases[0] = {"20 arguments", full, false, false, E2BIG};
    cases[0].args.argv->push_back("b");
    cases[1] = {"16 pairs", full, false, false, E2BIG};
    cases[1].args.envNames->push_back("IFXT_P15");
    cases[1].args.envValues->push_back("15");
    cases[2] = {"path of 4096", {}, false, false, ENAMETOOLONG};
    cases[2].args.path = "/" + std::string(4095, 'p');
    cases[3] = {"user of 4096", {}, false, false, ENAMETOOLONG};
    cases[3].args.user = std::string(4096, 'u');
    cases[4] = {"null path", {}, true, false, EINVAL};
    cases[5] = {"null user", {}, false, true, EINVAL};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        ifxtest::LogFile log;
        EvEvent event;
        const std::set<int> before = ifxtest::OpenDescriptors();
        IfxChildProcess child;
        int result;
        if (c.nullPath || c.nullUser) {
            std::string path = ifxtest::ChildHelperPath();
            std::string user = "root";
            result = child.InitializeLinux(c.nullPath ? nullptr : path.data(), nullptr,
                                           c.nullUser ? nullptr : user.data(), nullptr, nullptr,
                                           &event, false, false, false, nullptr);
        } else {
            c.args.event = &event;
            result = ifxtest::LaunchChild(child, Launch::ProcessService, c.args);
        }
        EXPECT_EQ(result, -1);
        EXPECT_EQ(child.m_lasterror, c.error);
        EXPECT_EQ(child.m_pprocess, nullptr);
        EXPECT_EQ(child.m_childpid, 0);
        EXPECT_EQ(ifxtest::OpenDescriptors(), before);
        EXPECT_TRUE(log.has(
            kTag, "launch does not fit the parameter block: errno=" + std::to_string(c.error)));
    }
}

// Reads from fd until a whole line has arrived; the line without "\n".
std::string ReadLineFrom(int fd) {
    std::string text;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
        text += c;
    }
    return text;
}

// Agent code may hand PostFork to the process service itself, with a block that only
// SetPostForkParam filled: that child prepares for itself and still runs the program.
// Without a block there is nothing to run, and the child ends with 79.
TEST(ProcessServiceLaunch, PostForkRunsABlockThatInitializeLinuxDidNotFill) {
    ifxtest::LogFile log;
    int toChild[2];
    int fromChild[2];
    ASSERT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
    std::string path = ifxtest::ChildHelperPath();
    std::string user = ifxtest::UserName(::getuid());
    ifxtest::CStringArray names({"IFXT_FOREIGN"});
    ifxtest::CStringArray values({"yes"});
    auto block = std::make_unique<IfxChildParam>();
    IfxChildProcess filler;
    filler.SetPostForkParam(block.get(), path.data(), nullptr, names.get(), values.get(),
                            user.data(), toChild, fromChild);
    ASSERT_EQ(block->prepared, nullptr);

    JxProcess process;
    std::string error;
    ASSERT_TRUE(process.Fork(IfxChildProcess::PostFork, block.get(), &error)) << error;
    ::close(toChild[0]);
    ::close(fromChild[1]);
    const char command[] = "env IFXT_FOREIGN";
    ASSERT_EQ(::write(toChild[1], command, sizeof command), static_cast<ssize_t>(sizeof command));
    EXPECT_EQ(ReadLineFrom(fromChild[0]), "yes");
    ::close(toChild[1]);
    ::close(fromChild[0]);
    int status = -1;
    ASSERT_TRUE(process.WaitForProcessToEnd(&status, &error, -1)) << error;
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(log.has(kChildTag, "Child exec " + path));
    delete[] block->envName[0];
    delete[] block->envValue[0];

    JxProcess withoutBlock;
    ASSERT_TRUE(withoutBlock.Fork(IfxChildProcess::PostFork, nullptr, &error)) << error;
    ASSERT_TRUE(withoutBlock.WaitForProcessToEnd(&status, &error, -1)) << error;
    EXPECT_EQ(status, 79);
    EXPECT_TRUE(log.has(kChildTag, "Child exec failed, errno 22"));
}

// Standard error of this process goes to a file while the object lives.
class CapturedStandardError {
  public:
    CapturedStandardError() : m_path(m_dir.file("stderr")) {
        const int file = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        EXPECT_GE(file, 0);
        EXPECT_GE(m_saved, 0);
        EXPECT_EQ(::dup2(file, STDERR_FILENO), STDERR_FILENO);
        ::close(file);
    }
    ~CapturedStandardError() { Restore(); }
    CapturedStandardError(const CapturedStandardError&) = delete;
    CapturedStandardError& operator=(const CapturedStandardError&) = delete;

    std::string Restore() {
        if (m_saved >= 0) {
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
            m_saved = -1;
        }
        return ifxtest::readFile(m_path);
    }

  private:
    ifxtest::TempDir m_dir;
    std::string m_path;
    int m_saved = -1;
};

// The same foreign block handed to JxProcess::Spawn: preparing in a child that shares our
// memory would allocate and look up users in it, so PostFork refuses and ends with 79.
TEST(ProcessServiceLaunch, PostForkRefusesToPrepareInAChildSharingOurMemory) {
    if (ifxtest::kUnderSanitizer) {
        GTEST_SKIP() << "sanitizers cannot follow a child in the parent's memory";
    }
    if (ifxtest::UnderUserModeEmulation()) {
        GTEST_SKIP() << "the emulator starts the child as a plain fork: it shares no memory";
    }
    int toChild[2];
    int fromChild[2];
    ASSERT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
    std::string path = ifxtest::ChildHelperPath();
    std::string user = ifxtest::UserName(::getuid());
    auto block = std::make_unique<IfxChildParam>();
    IfxChildProcess filler;
    filler.SetPostForkParam(block.get(), path.data(), nullptr, nullptr, nullptr, user.data(),
                            toChild, fromChild);

    JxProcess process;
    std::string error;
    CapturedStandardError captured;
    // Returns once the child has executed or ended, here ended.
    const bool started = process.Spawn(IfxChildProcess::PostFork, block.get(), &error);
    const std::string lines = captured.Restore();
    ASSERT_TRUE(started) << error;
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) {
        ::close(fd);
    }
    int status = -1;
    ASSERT_TRUE(process.WaitForProcessToEnd(&status, &error, -1)) << error;
    EXPECT_EQ(status, 79);
    EXPECT_NE(lines.find(std::string("[") + kChildTag +
                         "] PostFork needs a block prepared by InitializeLinux in a child "
                         "sharing the parent's memory\n"),
              std::string::npos)
        << lines;
}

// Run in a process of its own: a process limit of 0 makes every fork fail for a user
// other than root.
int LaunchWithForkFailing() {
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        return 10;
    }
    const struct rlimit none { 0, 0 };
    if (::setrlimit(RLIMIT_NPROC, &none) != 0) {
        return 11;
    }
    IfxChildProcess child;
    std::string path = ifxtest::ChildHelperPath();
    std::string user = "nobody";
    if (child.InitializeLinux(path.data(), nullptr, user.data(), nullptr, nullptr, nullptr, false,
                              false, false, nullptr) != -1) {
        return 12;
    }
    if (child.m_lasterror != EAGAIN || child.m_pprocess == nullptr) {
        return 13;
    }
    const int ends[] = {child.m_phpipepw[0], child.m_phpipepw[1], child.m_phpipecw[0],
                        child.m_phpipecw[1]};
    for (int fd : ends) {
        if (!ifxtest::DescriptorIsOpen(fd)) {
            return 14;
        }
    }
    child.Finalize();
    for (int fd : ends) {
        if (ifxtest::DescriptorIsOpen(fd)) {
            return 15;
        }
    }
    return 0;
}

TEST(ProcessServiceLaunch, FailedForkKeepsTheProcessObjectAndThePipesUntilFinalize) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::_exit(LaunchWithForkFailing());
    }
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0) << "the step that failed is numbered in LaunchWithForkFailing";
}

// Run in a process of its own as a user other than root: no initgroups, and the
// switch to root fails at setgid. Returns the child's status.
int LaunchAsRootFromAnotherUser() {
    if (::getuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        return -10;
    }
    EvEvent event;
    IfxChildProcess child;
    std::string path = ifxtest::ChildHelperPath();
    std::string user = "root";
    if (child.InitializeLinux(path.data(), nullptr, user.data(), nullptr, nullptr, &event, false,
                              false, false, nullptr) != 0) {
        return -11;
    }
    const int status = child.Wait(0);
    child.Finalize();
    return status;
}

TEST(ProcessServiceLaunch, WithoutRootTheChildSkipsInitgroupsAndFailsToBecomeRoot) {
    ifxtest::LogFile log;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::_exit(LaunchAsRootFromAnotherUser() & 0xff);
    }
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 81);
    EXPECT_TRUE(log.has(kChildTag, "Child change user=root, gid=0, uid=0"));
    EXPECT_TRUE(log.has(kChildTag, "Child setgid failed, errno 1")) << log.text();
    EXPECT_FALSE(log.hasContaining(kChildTag, "initgroups"));
}

}  // namespace
