// The builder against a bare strtok_r loop over the same line: what the copies and the
// allocations of one token array cost.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include <IfxLib/IfxLib.h>

namespace {

// A 4 KB command line of options and values.
std::string makeCommandLine() {
    std::string line = "/opt/informix/bin/onbar";
    for (int i = 0; line.size() < 4096 - 32; ++i) {
        line += " -opt" + std::to_string(i) + " value_" + std::to_string(i);
    }
    line.resize(4096, 'x');
    return line;
}

void BM_StrtokLoopBaseline(benchmark::State& state) {
    const std::string line = makeCommandLine();
    std::vector<char> work(line.size() + 1);
    for (auto _ : state) {
        std::memcpy(work.data(), line.c_str(), line.size() + 1);
        int count = 0;
        char* save = nullptr;
        for (char* token = ::strtok_r(work.data(), " \t", &save); token != nullptr;
             token = ::strtok_r(nullptr, " \t", &save)) {
            benchmark::DoNotOptimize(token);
            ++count;
        }
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_StrtokLoopBaseline);

void BM_CommandLineToArgv(benchmark::State& state) {
    const std::string line = makeCommandLine();
    for (auto _ : state) {
        int count = 0;
        char** tokens = CommandLineToArgv(line.c_str(), &count, " \t");
        benchmark::DoNotOptimize(tokens);
        free_split_array(count, tokens);
    }
}
BENCHMARK(BM_CommandLineToArgv);

}  // namespace
