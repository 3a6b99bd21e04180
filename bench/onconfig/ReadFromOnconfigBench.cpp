// The reader against the bare cost of getting the same file into memory: the scan and
// its log lines should not cost much more than the read itself.

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

namespace {

constexpr const char* kTarget = "BAR_BENCH_TARGET";

// About 20 KB: the bundled demonstration file, then generated parameters, with the
// searched name near the end.
std::string makeOnconfig() {
    std::ifstream demo(std::string(IFXLIB_EXAMPLES_DIR) + "/onconfig.demo");
    std::string content((std::istreambuf_iterator<char>(demo)), std::istreambuf_iterator<char>());
    for (int i = 0; content.size() < 20 * 1024 - 200; ++i) {
        content += "BENCH_PARAM_" + std::to_string(i) + "\t\tvalue_" + std::to_string(i) +
                   "\t# generated parameter\n";
    }
    content += std::string(kTarget) + "\t\t/srv/informix/bench/target   # the one searched\n";
    content += "BENCH_LAST\t\t1\n";
    return content;
}

class OnconfigFile {
  public:
    OnconfigFile()
        : m_path((std::filesystem::temp_directory_path() /
                  ("ifxbench-onconfig-" + std::to_string(::getpid())))
                     .string()) {
        std::ofstream(m_path) << makeOnconfig();
        // The reader logs every match; the lines go nowhere but are still written.
        ::setenv("JX_LOG_FILE", "/dev/null", 1);
        ::setenv("JX_DEBUG_LEVEL", "0", 1);
    }
    ~OnconfigFile() {
        std::filesystem::remove(m_path);
        ::unsetenv("JX_LOG_FILE");
    }
    const char* path() const { return m_path.c_str(); }

  private:
    std::string m_path;
};

void BM_ReadWholeFileBaseline(benchmark::State& state) {
    OnconfigFile file;
    std::string content;
    for (auto _ : state) {
        CZuError error = CZuFile::ReadWholeFile(file.path(), content);
        benchmark::DoNotOptimize(error);
        benchmark::DoNotOptimize(content.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(content.size()));
}
BENCHMARK(BM_ReadWholeFileBaseline);

void BM_ReadFromOnconfigNearEnd(benchmark::State& state) {
    OnconfigFile file;
    char value[256];
    for (auto _ : state) {
        value[0] = '\0';
        if (ReadFromOnconfig(file.path(), kTarget, value) != 0) {
            state.SkipWithError("parameter not found");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ReadFromOnconfigNearEnd);

}  // namespace
