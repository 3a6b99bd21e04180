// Runs every input of the given corpus directories once through a fuzz target, the way
// libFuzzer replays a corpus, in a build without libFuzzer. The targets abort when the
// function under test and its reference disagree, so a failing input ends the run after
// its name was printed.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional in a target, as with libFuzzer.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool readFile(const std::filesystem::path& path, std::vector<char>& content) {
    std::ifstream in(path, std::ios::binary);
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS-DIRECTORY...\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
            if (entry.is_regular_file()) {
                inputs.push_back(entry.path());
            }
        }
        if (error) {
            std::fprintf(stderr, "cannot read %s: %s\n", argv[i], error.message().c_str());
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs in the corpus directories given\n");
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());

    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    for (const std::filesystem::path& input : inputs) {
        std::vector<char> content;
        if (!readFile(input, content)) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 2;
        }
        std::fprintf(stderr, "%s\n", input.c_str());
        // A copy of exactly the input's size, so that a sanitizer sees any read past it.
        std::unique_ptr<uint8_t[]> data(new uint8_t[content.size()]);
        std::copy(content.begin(), content.end(), data.get());
        LLVMFuzzerTestOneInput(data.get(), content.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
