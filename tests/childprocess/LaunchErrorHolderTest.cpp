// LaunchError when another process of the agent holds the launch's report pipe: a worker
// forked by another thread while the launch had the pipe open, living on without exec.

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "childprocess/ChildTestSupport.h"
#include "childprocess/ReportPipeHolder.h"

namespace {

using ifxtest::Launch;

class LaunchErrorHeldPipe : public ::testing::TestWithParam<Launch> {
  protected:
    void TearDown() override { ifxtest::ReleasePipeHolder(); }
};

// Once the child has ended the answer is final, whoever else holds the pipe: the program
// ran (0), or the step that failed.
TEST_P(LaunchErrorHeldPipe, TheAnswerIsKnownOnceTheChildEnded) {
    struct Case {
        const char* name;
        bool runs;
        int status;
        int error;
        int step;
    };
    const Case cases[] = {
        {"runs and exits 3", true, 3, 0, 0},
        {"missing program", false, 79, ENOENT, 79},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EvEvent event;
        IfxChildProcess child;
        ifxtest::LaunchArgs args;
        args.event = &event;
        if (c.runs) {
            args.argv = std::vector<std::string>{args.path, "--exit", "3"};
        } else {
            args.path = "/nonexistent/ifxtest-program";
        }
        ifxtest::HoldNextNonBlockingPipe();
        ASSERT_EQ(ifxtest::LaunchChild(child, GetParam(), args), 0);
        EXPECT_EQ(child.WaitFor(120000), c.status);
        int step = -1;
        errno = 0;
        EXPECT_EQ(child.LaunchError(&step), c.error) << "errno " << errno;
        EXPECT_EQ(step, c.step);
        EXPECT_GT(ifxtest::ReleasePipeHolder(), 0) << "no process held the pipe";
    }
}

INSTANTIATE_TEST_SUITE_P(BothLaunches, LaunchErrorHeldPipe,
                         ::testing::Values(Launch::Direct, Launch::ProcessService),
                         [](const ::testing::TestParamInfo<Launch>& info) {
                             return std::string(ifxtest::LaunchName(info.param));
                         });

}  // namespace
