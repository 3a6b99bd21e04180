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

// Copies field 2 of the matched line, when it has one, into value and logs the outcome. A
// second field that begins with "#" opens the line's comment: the parameter is set to
// nothing, and a word of the comment must not be taken for its value.
void takeValue(const EvEvent& event, const std::vector<std::string>& fields, const char* paramName,
               char* value) {
    if (fields.size() > 1) {
        EvDebug::Debug(&event, kTag, " nitems : %d ", static_cast<int>(fields.size()));
        const std::string& found = fields[1];
        if (FXString::CompareLeft(found, "#") != 0) {
            std::strncpy(value, found.c_str(), found.size() + 1);
        }
    }
    EvDebug::Debug(&event, kTag, " Parameter %s= %s ", paramName, value);
}

std::string::size_type lineStart(const std::string& content, std::string::size_type at) {
    const std::string::size_type newline =
        at == 0 ? std::string::npos : content.rfind('\n', at - 1);
    return newline == std::string::npos ? 0 : newline + 1;
}

std::string::size_type lineEnd(const std::string& content, std::string::size_type at) {
    const std::string::size_type newline = content.find('\n', at);
    return newline == std::string::npos ? content.size() : newline;
}

// Position of the first occurrence of name at or after from, or npos. strstr is much
// faster than std::string::find on text where the name's first letter is common (as in
// files full of similar parameter names); it stops at a NUL byte, so each stretch
// between NUL bytes is searched in turn.
std::string::size_type findName(const std::string& content, const char* name,
                                std::string::size_type from) {
    const char* base = content.c_str();
    while (from <= content.size()) {
        const char* found = std::strstr(base + from, name);
        if (found != nullptr) {
            return static_cast<std::string::size_type>(found - base);
        }
        from += std::strlen(base + from) + 1;
    }
    return std::string::npos;
}

// Finds the first parameter line whose first field is paramName, and gives its trimmed
// text and its fields. The whole content is searched for the name first and only the
// lines that hold it are trimmed and split: a parameter's own line holds its name, and
// most lines do not. The first line that passes is the first match in file order, and it
// decides even when it yields no value.
bool findFirstMatchingLine(const std::string& content, const char* paramName, std::string& line,
                           std::vector<std::string>& fields) {
    if (*paramName == '\0') {
        return false;  // fields are never empty
    }
    std::string::size_type from = 0;
    for (;;) {
        const std::string::size_type at = findName(content, paramName, from);
        if (at == std::string::npos) {
            return false;
        }
        const std::string::size_type start = lineStart(content, at);
        const std::string::size_type end = lineEnd(content, at);
        line.assign(content, start, end - start);
        FXString::Trim(line, kLineBlanks);
        if (isParameterLine(line)) {
            fields = fieldsOf(line);
            // The name may stand anywhere in the line: inside a longer name (TAPEDEV in
            // LTAPEDEV), a value or a comment. Only the first field names the parameter.
            if (!fields.empty() && fields[0] == paramName) {
                return true;
            }
        }
        if (end >= content.size()) {
            return false;
        }
        from = end + 1;
    }
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

    std::string line;
    std::vector<std::string> fields;
    if (findFirstMatchingLine(content, paramName, line, fields)) {
        EvDebug::DebugLvl(&event, kTag, 3, "Config file line: %s", line.c_str());
        takeValue(event, fields, paramName, value);
    }

    if (value[0] == '\0') {
        EvDebug::Debug(&event, kTag, "Could not find %s in %s ", paramName, onconfigPath);
        return -1;
    }
    return 0;
}
