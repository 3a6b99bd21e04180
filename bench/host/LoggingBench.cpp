// Cost of one log line, which the child pays for every step before exec.

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <IfxLib/platform/HostServices.h>

namespace {

void BM_DebugLineToFile(benchmark::State& state) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("ifxbench-" + std::to_string(::getpid())))
            .string();
    ::setenv("JX_LOG_FILE", path.c_str(), 1);
    {
        EvEvent event;
        for (auto _ : state) {
            EvDebug::Debug(&event, "Bench", "line %d with some text", 42);
        }
    }
    ::unsetenv("JX_LOG_FILE");
    std::filesystem::remove(path);
}
BENCHMARK(BM_DebugLineToFile);

void BM_FilteredDebugLvl(benchmark::State& state) {
    ::unsetenv("JX_LOG_FILE");
    ::setenv("JX_DEBUG_LEVEL", "0", 1);
    EvEvent event;
    for (auto _ : state) {
        EvDebug::DebugLvl(&event, "Bench", 2, "never written %d", 42);
    }
}
BENCHMARK(BM_FilteredDebugLvl);

}  // namespace
