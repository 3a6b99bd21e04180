// The usage guide shows code only as excerpts of the example programs, which CI builds
// and runs; an excerpt that no longer matches them word for word fails here.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

const std::string kDocs = IFXTEST_DOCS_DIR;

// The bodies of the ```cpp blocks, each with its final line feed.
std::vector<std::string> cppBlocks(const std::string& markdown) {
    std::vector<std::string> blocks;
    const std::string open = "```cpp\n";
    const std::string close = "```\n";
    size_t at = 0;
    while ((at = markdown.find(open, at)) != std::string::npos) {
        const size_t start = at + open.size();
        const size_t end = markdown.find(close, start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a code block is not closed";
            break;
        }
        blocks.push_back(markdown.substr(start, end - start));
        at = end + close.size();
    }
    return blocks;
}

TEST(UsageGuide, EveryCodeBlockIsAnExcerptOfAnExample) {
    const std::string guide = ifxtest::readFile(kDocs + "/usage.md");
    ASSERT_FALSE(guide.empty());
    std::string examples;
    for (const auto& entry : std::filesystem::directory_iterator(kDocs + "/examples")) {
        if (entry.path().extension() == ".cpp") {
            examples += ifxtest::readFile(entry.path().string());
        }
    }
    const std::vector<std::string> blocks = cppBlocks(guide);
    EXPECT_GE(blocks.size(), 5u);
    for (const std::string& block : blocks) {
        EXPECT_NE(examples.find(block), std::string::npos) << "not found in docs/examples/*.cpp:\n"
                                                           << block;
    }
}

TEST(UsageGuide, NamesOnlyExamplesThatExist) {
    const std::string guide = ifxtest::readFile(kDocs + "/usage.md");
    const std::regex named(R"(docs/examples/([A-Za-z_]+\.cpp))");
    int count = 0;
    for (auto it = std::sregex_iterator(guide.begin(), guide.end(), named);
         it != std::sregex_iterator(); ++it, ++count) {
        EXPECT_TRUE(std::filesystem::exists(kDocs + "/examples/" + (*it)[1].str()))
            << (*it)[0].str();
    }
    EXPECT_GT(count, 0);
}

}  // namespace
