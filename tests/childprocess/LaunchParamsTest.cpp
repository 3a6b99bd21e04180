// The parameter block packed in the parent and unpacked in the child.

#include <IfxLib/IfxLib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "childprocess/ChildTestSupport.h"

namespace {

// SetPostForkParam's copies belong to whoever releases the block.
struct PackedBlock {
    IfxChildParam block;
    ~PackedBlock() {
        for (char* copy : block.argv) {
            delete[] copy;
        }
        for (int i = 0; i < 16; ++i) {
            delete[] block.envName[i];
            delete[] block.envValue[i];
        }
    }
};

struct Unpacked {
    char path[4096] = {};
    char* argv[20] = {};
    char* envName[16] = {};
    char* envValue[16] = {};
    char ifxUser[4096] = {};
    int phpipepw[2] = {};
    int phpipecw[2] = {};
};

TEST(LaunchParams, PacksAndUnpacksTheSameStrings) {
    IfxChildProcess process;
    ifxtest::CStringArray argv({"prog", "-x"});
    ifxtest::CStringArray names({"A", "B", "C"});
    ifxtest::CStringArray values({"1", "2"});
    std::string path(4095, 'p');
    std::string user = "informix";
    int pw[2] = {7, 8};
    int cw[2] = {9, 10};
    auto packed = std::make_unique<PackedBlock>();
    process.SetPostForkParam(&packed->block, path.data(), argv.get(), names.get(), values.get(),
                             user.data(), pw, cw);

    EXPECT_EQ(std::string(packed->block.path), path) << "4095 characters fit";
    EXPECT_NE(packed->block.argv[0], argv.get()[0]) << "the block holds copies";
    EXPECT_EQ(packed->block.argv[2], nullptr);
    EXPECT_EQ(packed->block.envName[2], nullptr) << "the third name has no value";
    EXPECT_EQ(packed->block.envValue[2], nullptr);

    auto out = std::make_unique<Unpacked>();
    IfxChildProcess::GetPostForkParam(&packed->block, out->path, out->argv, out->envName,
                                      out->envValue, out->ifxUser, out->phpipepw, out->phpipecw,
                                      nullptr);
    EXPECT_EQ(std::string(out->path), path);
    EXPECT_EQ(std::string(out->ifxUser), user);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(out->argv[i], packed->block.argv[i]) << "not copied again";
        EXPECT_EQ(out->envName[i], packed->block.envName[i]);
        EXPECT_EQ(out->envValue[i], packed->block.envValue[i]);
    }
    EXPECT_STREQ(out->argv[1], "-x");
    EXPECT_STREQ(out->envName[1], "B");
    EXPECT_STREQ(out->envValue[1], "2");
    EXPECT_EQ(out->argv[2], nullptr);
    EXPECT_EQ(out->envName[2], nullptr);
    EXPECT_EQ(out->phpipepw[1], 8);
    EXPECT_EQ(out->phpipecw[0], 9);
}

TEST(LaunchParams, NullOrEmptyListsPackNothing) {
    IfxChildProcess process;
    ifxtest::CStringArray none({});
    ifxtest::CStringArray names({"A"});
    std::string path = "/bin/true";
    std::string user = "";
    int pw[2] = {};
    int cw[2] = {};
    struct Case {
        const char* name;
        char** argv;
        char** envName;
        char** envValue;
    };
    const Case cases[] = {
        {"null lists", nullptr, nullptr, nullptr},
        {"null values", none.get(), names.get(), nullptr},
        {"empty values", none.get(), names.get(), none.get()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto packed = std::make_unique<PackedBlock>();
        std::memset(&packed->block, 0xff, sizeof packed->block);
        process.SetPostForkParam(&packed->block, path.data(), c.argv, c.envName, c.envValue,
                                 user.data(), pw, cw);
        EXPECT_EQ(packed->block.argv[0], nullptr);
        EXPECT_EQ(packed->block.argv[19], nullptr);
        EXPECT_EQ(packed->block.envName[0], nullptr);
        EXPECT_EQ(packed->block.envValue[15], nullptr);
        EXPECT_EQ(packed->block.ifxUser[0], '\0') << "an empty user is carried as such";
        EXPECT_EQ(packed->block.path[4095], '\0');
    }
}

// A block from anybody may have every slot set; the unpacked arrays must still end with
// a null, or the child would hand exec an unterminated vector.
TEST(LaunchParams, AFullBlockUnpacksIntoTerminatedArrays) {
    auto block = std::make_unique<IfxChildParam>();
    std::memset(block.get(), 0, sizeof *block);
    static char text[] = "x";
    for (char*& slot : block->argv) {
        slot = text;
    }
    for (int i = 0; i < 16; ++i) {
        block->envName[i] = text;
        block->envValue[i] = text;
    }
    auto out = std::make_unique<Unpacked>();
    IfxChildProcess::GetPostForkParam(block.get(), out->path, out->argv, out->envName,
                                      out->envValue, out->ifxUser, out->phpipepw, out->phpipecw,
                                      nullptr);
    EXPECT_EQ(out->argv[18], text);
    EXPECT_EQ(out->argv[19], nullptr);
    EXPECT_EQ(out->envName[14], text);
    EXPECT_EQ(out->envName[15], nullptr);
    EXPECT_EQ(out->envValue[15], nullptr);
}

// Null blocks and null arrays are refused quietly instead of crashing; a block without
// pipes carries -1, so that its child fails at its streams without closing anything.
TEST(LaunchParams, NullArgumentsAreSafe) {
    IfxChildProcess process;
    std::string path = "/bin/true";
    std::string user = "u";
    int pw[2] = {7, 8};
    int cw[2] = {9, 10};
    process.SetPostForkParam(nullptr, path.data(), nullptr, nullptr, nullptr, user.data(), pw, cw);

    auto packed = std::make_unique<PackedBlock>();
    process.SetPostForkParam(&packed->block, path.data(), nullptr, nullptr, nullptr, user.data(),
                             nullptr, nullptr);
    EXPECT_EQ(packed->block.phpipepw[0], -1);
    EXPECT_EQ(packed->block.phpipepw[1], -1);
    EXPECT_EQ(packed->block.phpipecw[0], -1);
    EXPECT_EQ(packed->block.phpipecw[1], -1);
    EXPECT_STREQ(packed->block.path, "/bin/true");

    auto out = std::make_unique<Unpacked>();
    IfxChildProcess::GetPostForkParam(nullptr, out->path, out->argv, out->envName, out->envValue,
                                      out->ifxUser, out->phpipepw, out->phpipecw, nullptr);
    EXPECT_EQ(out->path[0], '\0');
    IfxChildProcess::GetPostForkParam(&packed->block, nullptr, nullptr, nullptr, nullptr,
                                      out->ifxUser, nullptr, nullptr, nullptr);
    EXPECT_STREQ(out->ifxUser, "u");
}

}  // namespace
