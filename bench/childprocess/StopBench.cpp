// Stop-to-status by process group and process descriptors (BM_StopToStatus in
// LaunchBench.cpp covers the two launches and the wait thread): how long Stop takes to end
// an obedient utility (the helper program, which dies of SIGTERM) and return its status,
// the call alone timed. Axes: the utility in the agent's group (0) or leading its own (1);
// with the kernel's process descriptors (0) or with the library refused them as before
// Linux 5.3 (1), when the watcher thread watches the grace. With a group, the leader's end
// is followed by a look for the group's other members in /proc.

#include <benchmark/benchmark.h>

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

#include <chrono>
#include <cstring>
#include <string>

#include "childprocess/ProcessDescriptorSwitch.h"

namespace {

// Reads until the helper's one-line answer has arrived.
bool AnswerArrives(IfxChildProcess& child) {
    char buffer[64];
    std::string line;
    while (line.find('\n') == std::string::npos) {
        const long count = child.ReadBytes(buffer, sizeof buffer);
        if (count <= 0) {
            return false;
        }
        line.append(buffer, static_cast<size_t>(count));
    }
    return true;
}

void BM_StopToStatusByGroupAndDescriptors(benchmark::State& state) {
    const bool ownGroup = state.range(0) != 0;
    ifxtest::SetProcessDescriptors(state.range(1) != 0
                                       ? ifxtest::ProcessDescriptors::kNone
                                       : ifxtest::ProcessDescriptors::kAsTheKernelHas);
    std::string path = IFXBENCH_CHILD_HELPER;
    EvEvent event;
    for (auto _ : state) {
        IfxChildProcess child;
        child.SetLaunchOptions(ownGroup ? IfxChildProcess::kOwnProcessGroup : 0);
        if (child.Initialize(path.data(), nullptr, nullptr, nullptr, nullptr, &event, false, false,
                             false, nullptr) != 0) {
            state.SkipWithError("launch failed");
            break;
        }
        // The program runs and answers: Stop meets the utility, not a child before exec.
        const char command[] = "echo x";
        if (child.WriteBytes(command, sizeof command) != static_cast<long>(sizeof command) ||
            !AnswerArrives(child)) {
            state.SkipWithError("no answer");
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        const int status = child.Stop(5000);
        const auto end = std::chrono::steady_clock::now();
        if (status != 128 + 15) {
            state.SkipWithError("unexpected status");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    ifxtest::SetProcessDescriptors(ifxtest::ProcessDescriptors::kAsTheKernelHas);
}

BENCHMARK(BM_StopToStatusByGroupAndDescriptors)
    ->ArgNames({"group", "nodescriptors"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
