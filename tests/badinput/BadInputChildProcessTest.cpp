// The members of IfxChildProcess with null pointers, sizes of zero, below zero and far too
// large, values longer than a launch can carry, and calls out of order. Every row states
// what the interface promises; none may crash, leak or leave a descriptor behind.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "badinput/BadInputSupport.h"
#include "childprocess/ChildTestSupport.h"
#include "support/LogFile.h"

namespace {

using ifxtest::ExactBuffer;
using ifxtest::Launch;
using ifxtest::Row;

const Launch kLaunches[] = {Launch::Direct, Launch::ProcessService};

// A non-blocking read end has data (or its end) to read.
void WaitUntilReadable(const IfxChildProcess& child) {
    struct pollfd entry {};
    entry.fd = child.m_phpipecw[0];
    entry.events = POLLIN;
    while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

// No child of this process exists, running or ended.
bool NoChildExists() {
    errno = 0;
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

std::vector<std::string> Numbered(const std::string& prefix, int count) {
    std::vector<std::string> items;
    for (int i = 0; i < count; ++i) {
        items.push_back(prefix + std::to_string(i));
    }
    return items;
}

// A launch refused before the fork: -1 with the reason, no child, and nothing left open
// once the object is finalized and gone.
void ExpectRefusedLaunch(const std::function<int(IfxChildProcess&)>& launch, int error) {
    const std::set<int> before = ifxtest::OpenDescriptors();
    {
        IfxChildProcess child;
        EXPECT_EQ(launch(child), -1);
        EXPECT_EQ(child.m_lasterror, error);
        EXPECT_EQ(child.m_childpid, 0);
        EXPECT_TRUE(NoChildExists()) << "a child was forked";
        if (child.m_childpid > 0) {
            ::waitpid(child.m_childpid, nullptr, 0);
        }
        child.Finalize();
    }
    EXPECT_EQ(ifxtest::OpenDescriptors(), before);
}

TEST(BadInputChildProcess, LaunchesThatCannotBeCarriedOutForkNothing) {
    ifxtest::LogFile log;
    EvEvent event;
    std::string helper = ifxtest::ChildHelperPath();
    std::string user = ifxtest::UserName(::getuid());
    std::string longText(4096, 'x');
    ifxtest::CStringArray twentyArguments(Numbered("arg", 20));
    ifxtest::CStringArray sixteenNames(Numbered("IFXBAD_", 16));
    ifxtest::CStringArray sixteenValues(Numbered("v", 16));
    auto serviceLaunch = [&](char* path, char** argv, char* ifxUser, char** names, char** values) {
        return [=, &event](IfxChildProcess& child) {
            return child.InitializeLinux(path, argv, ifxUser, names, values, &event, false, false,
                                         false, nullptr);
        };
    };
    ifxtest::RunRows({
        {"Initialize(nullptr path)", "-1, m_lasterror EINVAL, nothing forked",
         [&] {
             ExpectRefusedLaunch(
                 [&](IfxChildProcess& child) {
                     return child.Initialize(nullptr, nullptr, nullptr, nullptr, nullptr, &event,
                                             false, false, false, nullptr);
                 },
                 EINVAL);
         }},
        {"InitializeLinux(nullptr path)", "-1, m_lasterror EINVAL, nothing forked",
         [&] {
             ExpectRefusedLaunch(serviceLaunch(nullptr, nullptr, user.data(), nullptr, nullptr),
                                 EINVAL);
         }},
        {"InitializeLinux(nullptr ifxUser)", "-1, m_lasterror EINVAL, nothing forked",
         [&] {
             ExpectRefusedLaunch(serviceLaunch(helper.data(), nullptr, nullptr, nullptr, nullptr),
                                 EINVAL);
         }},
        {"InitializeLinux(path of 4096 characters)", "-1, m_lasterror ENAMETOOLONG",
         [&] {
             ExpectRefusedLaunch(
                 serviceLaunch(longText.data(), nullptr, user.data(), nullptr, nullptr),
                 ENAMETOOLONG);
         }},
        {"InitializeLinux(ifxUser of 4096 characters)", "-1, m_lasterror ENAMETOOLONG",
         [&] {
             ExpectRefusedLaunch(
                 serviceLaunch(helper.data(), nullptr, longText.data(), nullptr, nullptr),
                 ENAMETOOLONG);
         }},
        {"InitializeLinux(20 arguments)", "-1, m_lasterror E2BIG",
         [&] {
             ExpectRefusedLaunch(
                 serviceLaunch(helper.data(), twentyArguments.get(), user.data(), nullptr, nullptr),
                 E2BIG);
         }},
        {"InitializeLinux(16 environment pairs)", "-1, m_lasterror E2BIG",
         [&] {
             ExpectRefusedLaunch(serviceLaunch(helper.data(), nullptr, user.data(),
                                               sixteenNames.get(), sixteenValues.get()),
                                 E2BIG);
         }},
    });
}

// What a launch hands on but the child cannot use ends the child with the exit code of
// the step that failed; what fits arrives whole.
TEST(BadInputChildProcess, LongValuesReachTheChildOrEndItWithTheFailedStep) {
    ifxtest::LogFile log;
    EvEvent event;
    // The kernel takes no argument or environment string of 32 pages or more: 128 KiB
    // with 4 KiB pages, 2 MiB with the 64 KiB pages of ppc64 kernels.
    const std::string tooLongForExec(size_t{32} * static_cast<size_t>(::sysconf(_SC_PAGESIZE)),
                                     'v');
    const std::string longValue(size_t{100} * 1024, 'v');
    struct Case {
        std::string name;
        Launch how;
        ifxtest::LaunchArgs args;
        int status;  // the child's exit code
        // Asked before the child is ended, and its expected answer.
        std::optional<std::pair<std::string, std::string>> probe;
    };
    std::vector<Case> cases;
    auto add = [&](std::string name, Launch how, int status) -> Case& {
        ifxtest::LaunchArgs args;
        args.event = &event;
        cases.push_back({std::move(name), how, args, status, std::nullopt});
        return cases.back();
    };
    add("Initialize(path of 5000 characters)", Launch::Direct, 79).args.path =
        "/" + std::string(4999, 'p');
    add("InitializeLinux(path of 4095 characters)", Launch::ProcessService, 79).args.path =
        "/" + std::string(4094, 'p');
    add("Initialize(ifxUser of 5000 characters)", Launch::Direct, 81).args.user =
        std::string(5000, 'u');
    add("InitializeLinux(ifxUser of 4095 characters)", Launch::ProcessService, 81).args.user =
        std::string(4095, 'u');
    for (Launch how : kLaunches) {
        const std::string name = ifxtest::LaunchName(how);
        add(name + "(ifxUser \"\")", how, 81).args.user = std::string();
        Case& tooLong = add(name + "(environment value of 32 pages)", how, 79);
        tooLong.args.envNames = std::vector<std::string>{"IFXBAD_BIG"};
        tooLong.args.envValues = std::vector<std::string>{tooLongForExec};
        Case& fits = add(name + "(environment value of 100 KiB)", how, 0);
        fits.args.envNames = std::vector<std::string>{"IFXBAD_BIG"};
        fits.args.envValues = std::vector<std::string>{longValue};
        fits.probe.emplace("env IFXBAD_BIG", longValue);
    }
    Case& nineteen = add("InitializeLinux(19 arguments)", Launch::ProcessService, 0);
    nineteen.args.argv = Numbered("a", 19);
    nineteen.probe.emplace("args",
                           "argc=19|a0|a1|a2|a3|a4|a5|a6|a7|a8|a9|a10|a11|a12|a13|a14|"
                           "a15|a16|a17|a18");
    Case& fifteen = add("InitializeLinux(15 environment pairs)", Launch::ProcessService, 0);
    fifteen.args.envNames = Numbered("IFXBAD_", 15);
    fifteen.args.envValues = Numbered("v", 15);
    fifteen.probe.emplace("env IFXBAD_14", "v14");
    Case& thousand = add("Initialize(1000 arguments)", Launch::Direct, 0);
    thousand.args.argv = Numbered("a", 1000);
    thousand.probe.emplace("env IFXBAD_NONE", "<unset>");

    for (Case& c : cases) {
        SCOPED_TRACE(c.name + "  ->  0, the child " +
                     (c.status == 0 ? "runs with it" : "exits " + std::to_string(c.status)));
        const std::set<int> before = ifxtest::OpenDescriptors();
        {
            IfxChildProcess child;
            ASSERT_EQ(ifxtest::LaunchChild(child, c.how, c.args), 0)
                << "m_lasterror " << child.m_lasterror;
            if (c.probe) {
                EXPECT_EQ(ifxtest::Ask(child, c.probe->first), c.probe->second);
            }
            child.Finalize();
            EXPECT_EQ(ifxtest::WaitForStatus(child, c.how), c.status);
        }
        EXPECT_EQ(ifxtest::OpenDescriptors(), before);
    }
}

TEST(BadInputChildProcess, PipeCallsWithNullZeroNegativeAndHugeSizes) {
    ifxtest::LogFile log;
    EvEvent event;
    for (bool nonBlocking : {false, true}) {
        SCOPED_TRACE(nonBlocking ? "non-blocking" : "blocking");
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &event;
        args.nonBlocking = nonBlocking;
        ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, args), 0);
        char buffer[64];
        auto expectReadRefused = [&](char* into, long size) {
            EXPECT_EQ(child.ReadBuf(into, size), -1);
            EXPECT_EQ(child.m_lasterror, EINVAL);
            EXPECT_FALSE(child.m_beof);
            EXPECT_EQ(ifxtest::Ask(child, "echo still there"), "still there");
        };
        ifxtest::RunRows({
            {"WriteBuf(nullptr)", "0, nothing sent",
             [&] {
                 EXPECT_EQ(child.WriteBuf(nullptr), 0);
                 EXPECT_EQ(child.m_lasterror, 0);
                 EXPECT_EQ(ifxtest::Ask(child, "echo next"), "next");
             }},
            {"WriteBuf(\"\")", "0, nothing sent",
             [&] {
                 char empty[] = "";
                 EXPECT_EQ(child.WriteBuf(empty), 0);
                 EXPECT_EQ(ifxtest::Ask(child, "echo next"), "next");
             }},
            {"WriteBuf(256 KiB, four times the pipe)", "0, the child gets it whole",
             [&] {
                 const std::string text(size_t{256} * 1024, 't');
                 EXPECT_EQ(ifxtest::Ask(child, "echo " + text), text);
             }},
            {"ReadBuf(nullptr, 64)", "-1, m_lasterror EINVAL",
             [&] { expectReadRefused(nullptr, 64); }},
            {"ReadBuf(buffer, 0)", "-1, m_lasterror EINVAL, the output not ended",
             [&] { expectReadRefused(buffer, 0); }},
            {"ReadBuf(buffer, -1)", "-1, m_lasterror EINVAL",
             [&] { expectReadRefused(buffer, -1); }},
            {"ReadBuf(buffer, LONG_MIN)", "-1, m_lasterror EINVAL",
             [&] { expectReadRefused(buffer, LONG_MIN); }},
            {"ReadBuf(4-byte buffer, 4) of \"hello\\n\"",
             "0, four bytes without a NUL, the rest on the next read",
             [&] {
                 std::string command = "echo hello";
                 ASSERT_EQ(child.WriteBuf(command.data()), 0);
                 ExactBuffer four(4);
                 std::string received;
                 while (received.size() < 4) {
                     WaitUntilReadable(child);
                     ASSERT_EQ(child.ReadBuf(four.data() + received.size(),
                                             static_cast<long>(4 - received.size())),
                               0);
                     received = four.text();
                 }
                 EXPECT_EQ(received, "hell");
                 EXPECT_EQ(ifxtest::ReadLine(child), "o");
             }},
            {"ReadBuf(64 MiB buffer, 64 MiB)", "0, what is there, NUL-terminated",
             [&] {
                 std::string command = "echo big buffer";
                 ASSERT_EQ(child.WriteBuf(command.data()), 0);
                 WaitUntilReadable(child);
                 const long size = 64L << 20;
                 ExactBuffer big(static_cast<size_t>(size));
                 ASSERT_EQ(child.ReadBuf(big.data(), size), 0);
                 EXPECT_EQ(big.text(), "big buffer\n");
             }},
        });
        child.Finalize();
        EXPECT_EQ(ifxtest::WaitForStatus(child, Launch::ProcessService), 0);
    }
}

TEST(BadInputChildProcess, CallsOnAnObjectThatWasNeverLaunched) {
    ifxtest::LogFile log;
    const std::set<int> before = ifxtest::OpenDescriptors();
    ifxtest::RunRows({
        {"WriteBuf(\"x\") before a launch", "-1, m_lasterror EBADF, no descriptor touched",
         [] {
             IfxChildProcess child;
             char text[] = "x";
             EXPECT_EQ(child.WriteBuf(text), -1);
             EXPECT_EQ(child.m_lasterror, EBADF);
         }},
        {"ReadBuf(buffer, 64) before a launch", "-1, m_lasterror EBADF",
         [] {
             IfxChildProcess child;
             char buffer[64];
             EXPECT_EQ(child.ReadBuf(buffer, sizeof buffer), -1);
             EXPECT_EQ(child.m_lasterror, EBADF);
         }},
        {"Wait(ULONG_MAX) before a launch", "-1 at once: no status to report",
         [] {
             IfxChildProcess child;
             EXPECT_EQ(child.Wait(ULONG_MAX), -1);
         }},
        {"BeginWait() before a launch", "0; the wait thread reports failure, m_lasterror 0",
         [] {
             IfxChildProcess child;
             ASSERT_EQ(child.BeginWait(), 0);
             ASSERT_EQ(child.m_pthread->join(), 0);
             EXPECT_TRUE(child.m_bwaitstarted);
             EXPECT_TRUE(child.m_bwaitfailed);
             EXPECT_FALSE(child.m_bwaitdone);
             EXPECT_EQ(child.m_lasterror, 0);
         }},
        {"WaitThread() before a launch", "the failure flag set, m_lasterror 0",
         [] {
             IfxChildProcess child;
             child.WaitThread();
             EXPECT_TRUE(child.m_bwaitfailed);
             EXPECT_FALSE(child.m_bwaitdone);
             EXPECT_EQ(child.m_lasterror, 0);
         }},
    });
    EXPECT_EQ(ifxtest::OpenDescriptors(), before);
}

// One object supervises one child: a second launch must not take the first child's pipes
// and process object away from it.
TEST(BadInputChildProcess, ASecondLaunchOnOneObjectIsRefused) {
    ifxtest::LogFile log;
    EvEvent event;
    for (Launch first : kLaunches) {
        for (Launch second : kLaunches) {
            SCOPED_TRACE(std::string(ifxtest::LaunchName(first)) + " then " +
                         ifxtest::LaunchName(second) +
                         "  ->  -1, m_lasterror EBUSY, the first child kept, nothing leaked");
            const std::set<int> before = ifxtest::OpenDescriptors();
            ifxtest::LaunchArgs args;
            args.event = &event;
            pid_t firstPid = 0;
            int firstEnds[2] = {0, 0};
            pid_t survivor = 0;
            {
                IfxChildProcess child;
                ASSERT_EQ(ifxtest::LaunchChild(child, first, args), 0);
                firstPid = child.m_childpid;
                firstEnds[0] = child.m_phpipepw[1];
                firstEnds[1] = child.m_phpipecw[0];

                EXPECT_EQ(ifxtest::LaunchChild(child, second, args), -1);
                EXPECT_EQ(child.m_lasterror, EBUSY);
                EXPECT_EQ(child.m_childpid, firstPid);
                survivor = child.m_childpid;
                if (survivor == firstPid) {
                    EXPECT_EQ(ifxtest::Ask(child, "echo first"), "first");
                }
                child.Finalize();
                if (survivor != firstPid) {
                    // A second child took the object over; it ends at the end of its input.
                    ::waitpid(survivor, nullptr, 0);
                } else {
                    EXPECT_EQ(ifxtest::WaitForStatus(child, first), 0);
                }
            }
            EXPECT_EQ(ifxtest::OpenDescriptors(), before);
            if (survivor != firstPid) {
                // The first child's pipe ends were lost with it.
                ::close(firstEnds[0]);
                ::close(firstEnds[1]);
                ::waitpid(firstPid, nullptr, 0);
            }
            EXPECT_TRUE(NoChildExists());
        }
    }
}

// The first wait's report is what the agent reads; a second BeginWait must not change it.
TEST(BadInputChildProcess, ASecondBeginWaitLeavesTheFirstReportAlone) {
    ifxtest::LogFile log;
    EvEvent event;
    IfxChildProcess child;
    ifxtest::LaunchArgs args;
    args.event = &event;
    ASSERT_EQ(ifxtest::LaunchChild(child, Launch::ProcessService, args), 0);
    ASSERT_EQ(child.BeginWait(), 0);
    std::string command = "exit 3";
    ASSERT_EQ(child.WriteBuf(command.data()), 0);
    JxThread* firstThread = child.m_pthread;
    ASSERT_EQ(firstThread->join(), 0);
    ASSERT_TRUE(child.m_bwaitfailed);
    ASSERT_EQ(child.m_exitcode, 3);
    ASSERT_EQ(child.m_lasterror, 3);

    SCOPED_TRACE("BeginWait() again  ->  -1, m_exitcode and m_lasterror of the first wait kept");
    EXPECT_EQ(child.BeginWait(), -1);
    EXPECT_EQ(child.m_exitcode, 3);
    EXPECT_EQ(child.m_lasterror, 3);
    EXPECT_EQ(child.m_pthread, firstThread);
    child.Finalize();
}

// SetPostForkParam's copies belong to whoever releases the block.
struct Block {
    IfxChildParam param;
    void ReleaseCopies() {
        for (char*& copy : param.argv) {
            delete[] copy;
            copy = nullptr;
        }
        for (int i = 0; i < 16; ++i) {
            delete[] param.envName[i];
            delete[] param.envValue[i];
            param.envName[i] = param.envValue[i] = nullptr;
        }
    }
};

// The unpacking side's buffers, each filled with a value that no unpacking writes, so
// that "nothing written" can be seen.
struct Unpacked {
    char path[4096];
    char* argv[20];
    char* envName[16];
    char* envValue[16];
    char ifxUser[4096];
    int phpipepw[2];
    int phpipecw[2];

    static char* Marker() {
        static char marker[] = "untouched";
        return marker;
    }
    Unpacked() {
        std::memset(path, 'P', sizeof path);
        std::memset(ifxUser, 'U', sizeof ifxUser);
        for (char*& slot : argv) {
            slot = Marker();
        }
        for (int i = 0; i < 16; ++i) {
            envName[i] = envValue[i] = Marker();
        }
        phpipepw[0] = phpipepw[1] = phpipecw[0] = phpipecw[1] = -7;
    }
    bool Untouched() const {
        const Unpacked fresh;
        return std::memcmp(this, &fresh, sizeof fresh) == 0;
    }
};

// These calls crash on a null pointer unless they check for it, so each row runs in a
// child process of its own.
TEST(BadInputChildProcess, ParameterBlockCallsWithNullPointersFailSafely) {
    ifxtest::LogFile log;
    std::string path = ifxtest::ChildHelperPath();
    std::string user = "nobody";
    ifxtest::CStringArray argv({"prog", "-x"});
    ifxtest::CStringArray names({"A", "B"});
    ifxtest::CStringArray values({"1", "2"});
    int pw[2] = {7, 8};
    int cw[2] = {9, 10};

    auto packWithNullPipe = [&](bool nullWriteSide) {
        return [&, nullWriteSide]() -> std::string {
            IfxChildProcess process;
            auto block = std::make_unique<Block>();
            std::memset(&block->param, 0x5A, sizeof block->param);
            process.SetPostForkParam(&block->param, path.data(), argv.get(), names.get(),
                                     values.get(), user.data(), nullWriteSide ? nullptr : pw,
                                     nullWriteSide ? cw : nullptr);
            const int* missing = nullWriteSide ? block->param.phpipepw : block->param.phpipecw;
            const bool filled = std::strcmp(block->param.path, path.c_str()) == 0 &&
                                std::strcmp(block->param.ifxUser, user.c_str()) == 0;
            const bool carriedAsNone = missing[0] == -1 && missing[1] == -1;
            block->ReleaseCopies();
            if (!filled) {
                return "the rest of the block was not filled";
            }
            return carriedAsNone ? "" : "the missing pipe is not -1";
        };
    };
    // A packed block to unpack from; the copies are released when the test ends.
    auto packed = std::make_unique<Block>();
    {
        IfxChildProcess process;
        process.SetPostForkParam(&packed->param, path.data(), argv.get(), names.get(), values.get(),
                                 user.data(), pw, cw);
    }
    enum Missing { kPath, kArgv, kEnvName, kEnvValue, kIfxUser, kPipePw, kPipeCw, kBlock };
    auto unpackWithout = [&](Missing missing) {
        return [&, missing]() -> std::string {
            auto out = std::make_unique<Unpacked>();
            IfxChildProcess::GetPostForkParam(
                missing == kBlock ? nullptr : &packed->param,
                missing == kPath ? nullptr : out->path, missing == kArgv ? nullptr : out->argv,
                missing == kEnvName ? nullptr : out->envName,
                missing == kEnvValue ? nullptr : out->envValue,
                missing == kIfxUser ? nullptr : out->ifxUser,
                missing == kPipePw ? nullptr : out->phpipepw,
                missing == kPipeCw ? nullptr : out->phpipecw, nullptr);
            if (missing == kBlock) {
                return out->Untouched() ? "" : "an output was written";
            }
            // The outputs that were given are filled; only the missing one is skipped.
            const bool filled = std::strcmp(out->path, path.c_str()) == 0 || missing == kPath;
            return filled ? "" : "the path was not unpacked";
        };
    };
    const char* unpackDocumented = "no crash, the null output skipped, the others filled";
    struct NamedRow {
        const char* call;
        const char* documented;
        std::function<std::string()> body;
    };
    const std::vector<NamedRow> rows = {
        {"SetPostForkParam(nullptr block, ...)", "no crash, nothing written",
         [&]() -> std::string {
             IfxChildProcess process;
             process.SetPostForkParam(nullptr, path.data(), argv.get(), names.get(), values.get(),
                                      user.data(), pw, cw);
             return "";
         }},
        {"SetPostForkParam(block, ..., nullptr phpipepw, phpipecw)",
         "no crash, the missing pipe carried as -1", packWithNullPipe(true)},
        {"SetPostForkParam(block, ..., phpipepw, nullptr phpipecw)",
         "no crash, the missing pipe carried as -1", packWithNullPipe(false)},
        {"GetPostForkParam(nullptr block, ...)", unpackDocumented, unpackWithout(kBlock)},
        {"GetPostForkParam(block, nullptr path, ...)", unpackDocumented, unpackWithout(kPath)},
        {"GetPostForkParam(block, ..., nullptr argv, ...)", unpackDocumented, unpackWithout(kArgv)},
        {"GetPostForkParam(block, ..., nullptr envName, ...)", unpackDocumented,
         unpackWithout(kEnvName)},
        {"GetPostForkParam(block, ..., nullptr envValue, ...)", unpackDocumented,
         unpackWithout(kEnvValue)},
        {"GetPostForkParam(block, ..., nullptr ifxUser, ...)", unpackDocumented,
         unpackWithout(kIfxUser)},
        {"GetPostForkParam(block, ..., nullptr phpipepw, ...)", unpackDocumented,
         unpackWithout(kPipePw)},
        {"GetPostForkParam(block, ..., nullptr phpipecw, ...)", unpackDocumented,
         unpackWithout(kPipeCw)},
    };
    for (const NamedRow& row : rows) {
        SCOPED_TRACE(std::string(row.call) + "  ->  " + row.documented);
        EXPECT_TRUE(ifxtest::SurvivesInAChild(row.body));
    }

    SCOPED_TRACE("PostFork(nullptr)  ->  no crash: the process ends by exit");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        IfxChildProcess::PostFork(nullptr);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    packed->ReleaseCopies();
}

// The block has fixed room: whatever a caller hands SetPostForkParam, the block's lists
// and texts end inside it, and GetPostForkParam hands the child terminated lists.
TEST(BadInputChildProcess, ParameterBlockKeepsItsListsAndTextsTerminated) {
    ifxtest::LogFile log;
    std::string longPath(5000, 'p');
    std::string longUser(5000, 'u');
    ifxtest::CStringArray manyArguments(Numbered("a", 25));
    ifxtest::CStringArray manyNames(Numbered("N", 20));
    ifxtest::CStringArray manyValues(Numbered("v", 20));
    int pw[2] = {7, 8};
    int cw[2] = {9, 10};
    IfxChildProcess process;
    ifxtest::RunRows({
        {"SetPostForkParam(block, nullptr path, ..., nullptr ifxUser, ...)",
         "no crash; both texts empty",
         [&] {
             auto block = std::make_unique<Block>();
             process.SetPostForkParam(&block->param, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      pw, cw);
             EXPECT_STREQ(block->param.path, "");
             EXPECT_STREQ(block->param.ifxUser, "");
             EXPECT_EQ(block->param.argv[0], nullptr);
             EXPECT_EQ(block->param.phpipecw[1], 10);
         }},
        {"SetPostForkParam(5000-character path and ifxUser, 25 arguments, 20 pairs)",
         "texts cut to 4095 characters, 19 arguments and 15 pairs, each list ending in null",
         [&] {
             auto block = std::make_unique<Block>();
             process.SetPostForkParam(&block->param, longPath.data(), manyArguments.get(),
                                      manyNames.get(), manyValues.get(), longUser.data(), pw, cw);
             EXPECT_EQ(std::string(block->param.path), longPath.substr(0, 4095));
             EXPECT_EQ(std::string(block->param.ifxUser), longUser.substr(0, 4095));
             EXPECT_STREQ(block->param.argv[18], "a18");
             EXPECT_EQ(block->param.argv[19], nullptr);
             EXPECT_STREQ(block->param.envValue[14], "v14");
             EXPECT_EQ(block->param.envName[15], nullptr);
             EXPECT_EQ(block->param.envValue[15], nullptr);
             block->ReleaseCopies();
         }},
        {"GetPostForkParam(block with all 20 argument and 16 pair slots set, ...)",
         "at most 19 arguments and 15 pairs unpacked: the child's lists end in null",
         [&] {
             static char text[] = "full";
             auto block = std::make_unique<Block>();
             std::memset(&block->param, 0, sizeof block->param);
             for (char*& slot : block->param.argv) {
                 slot = text;
             }
             for (int i = 0; i < 16; ++i) {
                 block->param.envName[i] = block->param.envValue[i] = text;
             }
             auto out = std::make_unique<Unpacked>();
             std::memset(out->argv, 0, sizeof out->argv);
             std::memset(out->envName, 0, sizeof out->envName);
             std::memset(out->envValue, 0, sizeof out->envValue);
             IfxChildProcess::GetPostForkParam(&block->param, out->path, out->argv, out->envName,
                                               out->envValue, out->ifxUser, out->phpipepw,
                                               out->phpipecw, nullptr);
             EXPECT_EQ(out->argv[18], text);
             EXPECT_EQ(out->argv[19], nullptr);
             EXPECT_EQ(out->envName[14], text);
             EXPECT_EQ(out->envName[15], nullptr);
             EXPECT_EQ(out->envValue[15], nullptr);
         }},
    });
}

}  // namespace
