#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <IfxLib/IfxLib.h>

#include "support/LogFile.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kTag = "ReadFromOnconfig";
const std::string kDemoOnconfig = std::string(IFXLIB_EXAMPLES_DIR) + "/onconfig.demo";

struct Lookup {
    int result;
    std::string value;
};

class ReadFromOnconfigTest : public ::testing::Test {
  protected:
    // Looks name up in a file of this content, with value holding initial beforehand.
    Lookup lookUp(const std::string& content, const char* name, const std::string& initial = "") {
        return lookUpIn(m_dir.write("onconfig", content), name, initial);
    }

    Lookup lookUpIn(const std::string& path, const char* name, const std::string& initial = "") {
        char value[256] = {};
        initial.copy(value, sizeof value - 1);
        const int result = ReadFromOnconfig(path.c_str(), name, value);
        return Lookup{result, value};
    }

    ifxtest::TempDir m_dir;
    ifxtest::LogFile m_log{3};
};

struct LineCase {
    const char* name;
    std::string content;
    int result;
    std::string value;
    const char* param = "NAME";
};

TEST_F(ReadFromOnconfigTest, FirstLineNamedByItsFirstFieldDecides) {
    const std::vector<LineCase> cases = {
        {"blanks between fields", "NAME    value    # comment\n", 0, "value"},
        {"tabs between fields", "NAME\tvalue\t\t# comment\n", 0, "value"},
        {"tabs and blanks mixed", "NAME \t value \t# comment\n", 0, "value"},
        {"indented, CR LF", "   NAME value\r\n", 0, "value"},
        {"last line without LF", "A 1\nNAME last", 0, "last"},
        {"blank and CR-only lines skipped", "\n\n \t\n\r\nNAME v\n", 0, "v"},
        {"value with blanks gives its first word", "NAME a b\n", 0, "a"},
        {"hash inside value", "NAME value#note\n", 0, "value#note"},
        {"indented comment never matches", "  # NAME value\nNAME real\n", 0, "real"},
        {"case matters", "name lower\nNAME upper\n", 0, "upper"},
        {"name alone stops the scan", "NAME\nNAME later\n", -1, ""},
        {"only in comments", "# NAME value\n#NAME value\n", -1, ""},
        {"blank-only file", "  \n\t\n\r\n", -1, ""},
        {"absent", "OTHER 1\n", -1, ""},
        {"NUL byte ends what a line shows", std::string("A x\0y NAME\nNAME v\n", 18), 0, "v"},
        {"NUL byte inside the first field", std::string("NAME\0x v\nNAME real\n", 19), 0, "real"},
        {"name across a line break", "A\nB x\n", -1, "", "A\nB"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Lookup lookup = lookUp(c.content, c.param);
        EXPECT_EQ(lookup.result, c.result);
        EXPECT_EQ(lookup.value, c.value);
    }
}

// Only a first field equal to the name matches: the name inside another parameter's name,
// value or comment is not that parameter, and must not hand its value over as a success.
TEST_F(ReadFromOnconfigTest, NameElsewhereInALineIsNotAMatch) {
    const std::vector<LineCase> cases = {
        {"inside a longer name", "LTAPEDEV /dev/null\nTAPEDEV /dev/tape\n", 0, "/dev/tape",
         "TAPEDEV"},
        {"longer name with a suffix", "BAR_DEBUG_LOG /tmp/bar.log\nBAR_DEBUG 0\n", 0, "0",
         "BAR_DEBUG"},
        {"inside an earlier value", "OTHER NAME_DIR\nNAME second\n", 0, "second"},
        {"inside an earlier trailing comment", "ROOTNAME rootdbs # ROOTPATH below\nROOTPATH /r\n",
         0, "/r", "ROOTPATH"},
        {"only a longer name holds it", "DBSERVERNAME demo\n", -1, "", "DBSERVER"},
        {"first field is a prefix of the name", "NAM v\n", -1, "", "NAME"},
        {"name with a blank", "OTHER NAME \nNAME v\n", -1, "", "NAME "},
        {"empty name", "NAME v\n", -1, "", ""},
        {"name that looks like a comment", "#NAME v\n", -1, "", "#NAME"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Lookup lookup = lookUp(c.content, c.param);
        EXPECT_EQ(lookup.result, c.result);
        EXPECT_EQ(lookup.value, c.value);
    }
}

// A second field that begins with "#" opens the line's comment: the parameter is there
// without a value, and as the first match it still ends the scan.
TEST_F(ReadFromOnconfigTest, CommentInPlaceOfTheValueGivesNoValue) {
    const std::vector<LineCase> cases = {
        {"comment after blanks", "NAME   # comment\n", -1, ""},
        {"comment after a tab", "NAME\t#\n", -1, ""},
        {"comment word attached", "NAME #value\n", -1, ""},
        {"later value not read", "NAME # none\nNAME later\n", -1, ""},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Lookup lookup = lookUp(c.content, c.param);
        EXPECT_EQ(lookup.result, c.result);
        EXPECT_EQ(lookup.value, c.value);
    }
}

TEST_F(ReadFromOnconfigTest, MatchIsLogged) {
    const std::string path = m_dir.write("onconfig", "# NAME x\n\tNAME\tvalue  # note \r\n");
    const Lookup lookup = lookUpIn(path, "NAME");
    EXPECT_EQ(lookup.result, 0);
    EXPECT_TRUE(m_log.has(kTag, "Config file line: NAME\tvalue  # note")) << m_log.text();
    EXPECT_TRUE(m_log.has(kTag, " nitems : 4 ")) << m_log.text();
    EXPECT_TRUE(m_log.has(kTag, " Parameter NAME= value ")) << m_log.text();
    EXPECT_EQ(m_log.lines().size(), 3u) << m_log.text();
}

TEST_F(ReadFromOnconfigTest, NameWithoutValueLogsEmptyValueAndNotFound) {
    const std::string path = m_dir.write("onconfig", "NAME\nNAME later\n");
    EXPECT_EQ(lookUpIn(path, "NAME").result, -1);
    EXPECT_TRUE(m_log.has(kTag, " Parameter NAME=  ")) << m_log.text();
    EXPECT_TRUE(m_log.has(kTag, "Could not find NAME in " + path + " ")) << m_log.text();
    EXPECT_FALSE(m_log.hasContaining(kTag, "nitems")) << m_log.text();
}

TEST_F(ReadFromOnconfigTest, CommentInPlaceOfTheValueIsLoggedAsNoValue) {
    const std::string path = m_dir.write("onconfig", "NAME   # no value\n");
    EXPECT_EQ(lookUpIn(path, "NAME").result, -1);
    EXPECT_TRUE(m_log.has(kTag, "Config file line: NAME   # no value")) << m_log.text();
    EXPECT_TRUE(m_log.has(kTag, " nitems : 4 ")) << m_log.text();
    EXPECT_TRUE(m_log.has(kTag, " Parameter NAME=  ")) << m_log.text();
    EXPECT_TRUE(m_log.has(kTag, "Could not find NAME in " + path + " ")) << m_log.text();
}

TEST_F(ReadFromOnconfigTest, PrefilledValueSurvivesAbsentName) {
    const Lookup lookup = lookUp("OTHER 1\n", "NAME", "keep");
    EXPECT_EQ(lookup.result, 0);
    EXPECT_EQ(lookup.value, "keep");
    EXPECT_FALSE(m_log.hasContaining(kTag, "Could not find")) << m_log.text();
}

TEST_F(ReadFromOnconfigTest, UnreadableOrEmptyFileLeavesValueAlone) {
    const std::string missing = m_dir.file("missing");
    const std::string empty = m_dir.write("empty", "");
    const Lookup fromMissing = lookUpIn(missing, "NAME", "keep");
    const Lookup fromEmpty = lookUpIn(empty, "NAME", "keep");
    const Lookup fromDirectory = lookUpIn(m_dir.path(), "NAME", "keep");

    EXPECT_EQ(fromMissing.result, -1);
    EXPECT_EQ(fromMissing.value, "keep");
    EXPECT_TRUE(m_log.has(kTag, "Could not open the file " + missing + " errno = cannot open '" +
                                    missing + "': " + std::strerror(ENOENT) + " "))
        << m_log.text();
    EXPECT_EQ(fromEmpty.result, -1);
    EXPECT_EQ(fromEmpty.value, "keep");
    EXPECT_TRUE(m_log.has(kTag, "Could not open the file " + empty + " errno = no error "))
        << m_log.text();
    EXPECT_EQ(fromDirectory.result, -1);
    EXPECT_EQ(fromDirectory.value, "keep");
}

// Files an owner of the ONCONFIG file could put in its place: both forms fail at once with
// the read's error, log it, and leave value alone.
TEST_F(ReadFromOnconfigTest, HostileFilesFailAtOnceAndAreLogged) {
    const std::string fifo = m_dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = m_dir.file("zero");
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    const std::string huge = m_dir.file("huge");
    {
        const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        // 1 TiB where the file system allows it, else 1 GiB: far beyond the bound either way.
        EXPECT_TRUE(::ftruncate(fd, off_t{1} << 40) == 0 || ::ftruncate(fd, off_t{1} << 30) == 0);
        ::close(fd);
    }
    struct Case {
        const char* name;
        std::string path;
        int error;
    };
    for (const Case& c : {Case{"a FIFO nobody writes", fifo, EINVAL},
                          Case{"a symbolic link to /dev/zero", zero, EINVAL},
                          Case{"a huge sparse file", huge, EFBIG}}) {
        SCOPED_TRACE(c.name);
        const std::string logged = "Could not open the file " + c.path + " errno = cannot read '" +
                                   c.path + "': " + std::strerror(c.error);
        EXPECT_EQ(lookUpIn(c.path, "NAME", "keep").value, "keep");
        char value[16] = "keep";
        errno = 0;
        EXPECT_EQ(ReadFromOnconfig(c.path.c_str(), "NAME", value, sizeof value), -1);
        EXPECT_EQ(errno, c.error);
        EXPECT_STREQ(value, "keep");
        const std::vector<ifxtest::LogLine> lines = m_log.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const ifxtest::LogLine& line) {
                                    return line.tag == kTag && line.message.rfind(logged, 0) == 0;
                                }),
                  2)
            << m_log.text();
    }
}

TEST_F(ReadFromOnconfigTest, NullArgumentsFail) {
    const std::string path = m_dir.write("onconfig", "NAME value\n");
    char value[16] = {};
    errno = 0;
    EXPECT_EQ(ReadFromOnconfig(nullptr, "NAME", value), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(ReadFromOnconfig(path.c_str(), nullptr, value), -1);
    EXPECT_EQ(ReadFromOnconfig(path.c_str(), "NAME", nullptr), -1);
    EXPECT_STREQ(value, "");
}

// The bounded form: a value is written only when it fits, and the buffer around it is never
// touched, whatever the file holds.
struct BoundedCase {
    const char* name;
    std::string content;
    size_t capacity;
    int result;
    int error;  // errno after a failure
    std::string value;
};

TEST_F(ReadFromOnconfigTest, BoundedFormWritesOnlyWhatFits) {
    const std::string huge(100000, 'v');
    const std::vector<BoundedCase> cases = {
        {"fits exactly", "NAME 12345\n", 6, 0, 0, "12345"},
        {"one byte short", "NAME 123456\n", 6, -1, ERANGE, ""},
        {"capacity 0", "NAME 1\n", 0, -1, EINVAL, ""},
        {"100000 bytes into 16", "NAME " + huge + "\n", 16, -1, ERANGE, ""},
        {"absent", "OTHER 1\n", 16, -1, ENOENT, ""},
        {"name without a value", "NAME\nNAME later\n", 16, -1, ENODATA, ""},
        {"comment in place of the value", "NAME # none\n", 16, -1, ENODATA, ""},
        {"empty file", "", 16, -1, ENODATA, ""},
    };
    constexpr size_t kGuard = 32;
    constexpr char kFill = '\x5a';
    for (const BoundedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.write("onconfig", c.content);
        std::vector<char> buffer(kGuard + c.capacity + kGuard, kFill);
        char* value = buffer.data() + kGuard;
        errno = 0;
        const int result = ReadFromOnconfig(path.c_str(), "NAME", value, c.capacity);
        EXPECT_EQ(result, c.result);
        if (result == 0) {
            EXPECT_EQ(std::string(value), c.value);
            EXPECT_EQ(std::count(value + c.value.size() + 1, value + c.capacity, kFill),
                      static_cast<long>(c.capacity - c.value.size() - 1));
        } else {
            EXPECT_EQ(errno, c.error);
            EXPECT_EQ(std::count(value, value + c.capacity, kFill), static_cast<long>(c.capacity));
        }
        EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + kGuard, kFill), long{kGuard});
        EXPECT_EQ(std::count(buffer.end() - kGuard, buffer.end(), kFill), long{kGuard});
    }
}

TEST_F(ReadFromOnconfigTest, BoundedFormLogsTheSizesOfAValueThatDoesNotFit) {
    const std::string path = m_dir.write("onconfig", "NAME 123456789\n");
    char value[4] = {};
    EXPECT_EQ(ReadFromOnconfig(path.c_str(), "NAME", value, sizeof value), -1);
    EXPECT_TRUE(
        m_log.has(kTag, "Value of NAME in " + path + " does not fit: 10 bytes, capacity 4 "))
        << m_log.text();
    EXPECT_FALSE(m_log.hasContaining(kTag, "Could not find")) << m_log.text();
    EXPECT_FALSE(m_log.hasContaining(kTag, "123456789 ")) << m_log.text();
}

// Unlike the three-argument form, text already in the buffer is not a value.
TEST_F(ReadFromOnconfigTest, BoundedFormIgnoresPrefilledText) {
    const std::string path = m_dir.write("onconfig", "OTHER 1\n");
    char value[16] = "keep";
    errno = 0;
    EXPECT_EQ(ReadFromOnconfig(path.c_str(), "NAME", value, sizeof value), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_STREQ(value, "keep");
    EXPECT_TRUE(m_log.has(kTag, "Could not find NAME in " + path + " ")) << m_log.text();
}

TEST_F(ReadFromOnconfigTest, BoundedFormReportsTheFilesError) {
    char value[16] = "keep";
    errno = 0;
    EXPECT_EQ(ReadFromOnconfig(m_dir.file("missing").c_str(), "NAME", value, sizeof value), -1);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(ReadFromOnconfig(m_dir.path().c_str(), "NAME", value, sizeof value), -1);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_STREQ(value, "keep");
    EXPECT_TRUE(m_log.hasContaining(kTag, "Could not open the file " + m_dir.path()))
        << m_log.text();

    const std::string path = m_dir.write("onconfig", "NAME value\n");
    const int results[] = {ReadFromOnconfig(nullptr, "NAME", value, sizeof value),
                           ReadFromOnconfig(path.c_str(), nullptr, value, sizeof value),
                           ReadFromOnconfig(path.c_str(), "NAME", nullptr, sizeof value)};
    const int error = errno;
    EXPECT_THAT(results, ::testing::Each(-1));
    EXPECT_EQ(error, EINVAL);
    EXPECT_STREQ(value, "keep");
}

// The bundled demonstration file: banner comments that mention every parameter, tabs,
// empty values, and names inside other names (LTAPEDEV after TAPEDEV, BAR_DEBUG after
// BAR_DEBUG_LOG, SERVERNAME only inside DBSERVERNAME).
struct DemoCase {
    const char* name;
    int result;
    std::string value;
};

const std::vector<DemoCase> kDemoCases = {
    {"ROOTNAME", 0, "rootdbs"},
    {"ROOTPATH", 0, "/srv/informix/demo/rootdbs"},
    {"PHYSFILE", 0, "200000"},
    {"LOGBUFF", 0, "256"},
    {"DBSERVERNAME", 0, "demo_srv"},
    {"SERVERNAME", -1, ""},       // only inside DBSERVERNAME
    {"DBSERVER", -1, ""},         // only the start of DBSERVERNAME
    {"DBSERVERALIASES", -1, ""},  // present without a value
    {"VPCLASS", 0, "cpu,num=2,noage"},
    {"BUFFERPOOL", 0, "default,memory=auto"},
    {"SHMADD", 0, "32000"},  // before EXTSHMADD
    {"TAPEDEV", 0, "/srv/backup/demo/archive"},
    {"TAPEBLK", 0, "32"},
    {"LTAPEDEV", 0, "/dev/null"},
    {"BAR_DEBUG", 0, "0"},  // after BAR_DEBUG_LOG
    {"BAR_ACT_LOG", 0, "/srv/informix/demo/bar_act.log"},
    {"BAR_BSALIB_PATH", -1, ""},
    {"WSTATS", 0, "0"},  // the last parameter
    {"NO_SUCH_PARAMETER", -1, ""},
};

TEST_F(ReadFromOnconfigTest, DemoOnconfig) {
    for (const DemoCase& c : kDemoCases) {
        SCOPED_TRACE(c.name);
        const Lookup lookup = lookUpIn(kDemoOnconfig, c.name);
        EXPECT_EQ(lookup.result, c.result);
        EXPECT_EQ(lookup.value, c.value);
    }
}

TEST_F(ReadFromOnconfigTest, DemoOnconfigWithCrLfEndings) {
    std::string crlf;
    for (char c : ifxtest::readFile(kDemoOnconfig)) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    ASSERT_GT(crlf.size(), 10000u);
    const std::string path = m_dir.write("onconfig.crlf", crlf);
    for (const DemoCase& c : kDemoCases) {
        SCOPED_TRACE(c.name);
        const Lookup lookup = lookUpIn(path, c.name);
        EXPECT_EQ(lookup.result, c.result);
        EXPECT_EQ(lookup.value, c.value);
    }
}

}  // namespace
