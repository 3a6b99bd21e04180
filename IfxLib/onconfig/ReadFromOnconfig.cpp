#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>
#include <IfxLib/text/FXStringInline.h>

namespace {

constexpr const char* kTag = "ReadFromOnconfig";

// Blanks around a line; CR is among them so that files written on Windows read alike.
const std::string kLineBlanks = " \t\r";

// Empty lines and lines whose first character is "#" carry no parameter.
bool isParameterLine(const std::string& trimmed) {
    return !trimmed.empty() && FXString::CompareLeft(trimmed, "#") != 0;
}

// Fields of a parameter line: runs of characters other than blank and tab.
std::vector<std::string> fieldsOf(std::string line) {
    FXString::ReplaceAll(line, "\t", " ", 0);
    std::vector<std::string> fields;
    FXString::Split(line, " ", fields, FXString::kSkipEmpty);
    return fields;
}

// Copies field 2 of the matched line, when it has one, into value and logs the outcome.
void takeValue(const EvEvent& event, const std::string& line, const char* paramName, char* value) {
    const std::vector<std::string> fields = fieldsOf(line);
    if (fields.size() > 1) {
        EvDebug::Debug(&event, kTag, " nitems : %d ", static_cast<int>(fields.size()));
        const std::string& found = fields[1];
        std::strncpy(value, found.c_str(), found.size() + 1);
    }
    EvDebug::Debug(&event, kTag, " Parameter %s= %s ", paramName, value);
}

}  // namespace

int ReadFromOnconfig(const char* onconfigPath, const char* paramName, char* value) {
    if (onconfigPath == nullptr || paramName == nullptr || value == nullptr) {
        errno = EINVAL;
        return -1;
    }
    EvEvent event;
    std::string content;
    const CZuError error = CZuFile::ReadWholeFile(onconfigPath, content);
    if (error.IsError() || content.empty()) {
        EvDebug::Debug(&event, kTag, "Could not open the file %s errno = %s ", onconfigPath,
                       error.AsString());
        return -1;
    }

    std::vector<std::string> lines;
    FXString::Split(content, "\n", lines, FXString::kSkipEmpty);
    for (const std::string& raw : lines) {
        std::string line = raw;
        FXString::Trim(line, kLineBlanks);
        if (!isParameterLine(line) || FXString::FindString(line, paramName, false) == nullptr) {
            continue;
        }
        // The first line that mentions the name decides, even when it yields no value.
        EvDebug::DebugLvl(&event, kTag, 3, "Config file line: %s", line.c_str());
        takeValue(event, line, paramName, value);
        break;
    }

    if (value[0] == '\0') {
        EvDebug::Debug(&event, kTag, "Could not find %s in %s ", paramName, onconfigPath);
        return -1;
    }
    return 0;
}
