#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

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

TEST_F(ReadFromOnconfigTest, FirstLineThatMentionsTheNameDecides) {
    const std::vector<LineCase> cases = {
        {"blanks between fields", "NAME    value    # comment\n", 0, "value"},
        {"tabs between fields", "NAME\tvalue\t\t# comment\n", 0, "value"},
        {"tabs and blanks mixed", "NAME \t value \t# comment\n", 0, "value"},
        {"indented, CR LF", "   NAME value\r\n", 0, "value"},
        {"last line without LF", "A 1\nNAME last", 0, "last"},
        {"blank and CR-only lines skipped", "\n\n \t\n\r\nNAME v\n", 0, "v"},
        {"value with blanks gives its first word", "NAME a b\n", 0, "a"},
        {"trailing comment without value", "NAME   # comment\n", 0, "#"},
        {"hash inside value", "NAME value#note\n", 0, "value#note"},
        {"indented comment never matches", "  # NAME value\nNAME real\n", 0, "real"},
        {"inside a longer name", "LONGNAME first\nNAME second\n", 0, "first"},
        {"inside an earlier value", "OTHER NAME_DIR\nNAME second\n", 0, "NAME_DIR"},
        {"inside an earlier trailing comment", "OTHER x # see NAME\nNAME y\n", 0, "x"},
        {"case matters", "name lower\nNAME upper\n", 0, "upper"},
        {"name alone stops the scan", "NAME\nNAME later\n", -1, ""},
        {"only in comments", "# NAME value\n#NAME value\n", -1, ""},
        {"blank-only file", "  \n\t\n\r\n", -1, ""},
        {"absent", "OTHER 1\n", -1, ""},
        {"NUL byte ends what a line shows", std::string("A x\0y NAME\nNAME v\n", 18), 0, "v"},
        {"name's blank trimmed off a line", "OTHER NAME \nNAME v\n", 0, "v", "NAME "},
        {"name across a line break", "A\nB x\n", -1, "", "A\nB"},
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

TEST_F(ReadFromOnconfigTest, NameAloneLogsEmptyValueAndNotFound) {
    const std::string path = m_dir.write("onconfig", "NAME\nNAME later\n");
    EXPECT_EQ(lookUpIn(path, "NAME").result, -1);
    EXPECT_TRUE(m_log.has(kTag, " Parameter NAME=  ")) << m_log.text();
    EXPECT_TRUE(m_log.has(kTag, "Could not find NAME in " + path + " ")) << m_log.text();
    EXPECT_FALSE(m_log.hasContaining(kTag, "nitems")) << m_log.text();
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

// The bundled demonstration file: banner comments, tabs, empty values, repeated
// parameters and names inside other names.
struct DemoCase {
    const char* name;
    int result;
    std::string value;
};

const std::vector<DemoCase> kDemoCases = {
    {"ROOTNAME", 0, "rootdbs"},
    {"PHYSFILE", 0, "200000"},
    {"LOGBUFF", 0, "256"},
    {"DBSERVERNAME", 0, "demo_srv"},
    {"SERVERNAME", 0, "demo_srv"},  // inside DBSERVERNAME
    {"DBSERVERALIASES", -1, ""},    // present without a value
    {"VPCLASS", 0, "cpu,num=2,noage"},
    {"BUFFERPOOL", 0, "default,memory=auto"},
    {"SHMADD", 0, "32000"},  // before EXTSHMADD
    {"TAPEDEV", 0, "/srv/backup/demo/archive"},
    {"LTAPEDEV", 0, "/dev/null"},
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
