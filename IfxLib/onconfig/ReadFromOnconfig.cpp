#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

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

// What the file says about one parameter.
enum class Finding { Unreadable, Absent, NoValue, Found };

struct Lookup {
    Finding finding = Finding::Absent;
    int fileError = 0;  // errno of the failed read, or ENODATA for an empty file
    std::string value;  // Found only
};

int errnoOf(const CZuError& error) {
    const int32_t code = error.Code();
    return code < 0 ? -code : EIO;
}

// Reads the file and finds the parameter's value, with the log lines every form writes
// up to the match. A second field that begins with "#" opens the line's comment: the
// parameter is set to nothing, and a word of the comment must not be taken for its value.
Lookup lookUp(const EvEvent& event, const char* onconfigPath, const char* paramName) {
    Lookup lookup;
    std::string content;
    const CZuError error = CZuFile::ReadWholeFile(onconfigPath, content);
    if (error.IsError() || content.empty()) {
        EvDebug::Debug(&event, kTag, "Could not open the file %s errno = %s ", onconfigPath,
                       error.AsString());
        lookup.finding = Finding::Unreadable;
        lookup.fileError = error.IsError() ? errnoOf(error) : ENODATA;
        return lookup;
    }
    std::string line;
    std::vector<std::string> fields;
    if (!findFirstMatchingLine(content, paramName, line, fields)) {
        return lookup;
    }
    EvDebug::DebugLvl(&event, kTag, 3, "Config file line: %s", line.c_str());
    lookup.finding = Finding::NoValue;
    if (fields.size() > 1) {
        EvDebug::Debug(&event, kTag, " nitems : %d ", static_cast<int>(fields.size()));
        if (FXString::CompareLeft(fields[1], "#") != 0) {
            lookup.finding = Finding::Found;
            lookup.value = std::move(fields[1]);
        }
    }
    return lookup;
}

// The bounded form's work; the error number for errno, or 0 on success. errno itself is
// set by the caller once every object here is gone, so that no destructor can change it.
int readBounded(const char* onconfigPath, const char* paramName, char* value, size_t capacity) {
    EvEvent event;
    const Lookup lookup = lookUp(event, onconfigPath, paramName);
    if (lookup.finding == Finding::Unreadable) {
        return lookup.fileError;
    }
    // A C caller sees a value up to its first NUL byte, so that is all that is copied.
    const size_t length = std::strlen(lookup.value.c_str());
    const Finding finding =
        lookup.finding == Finding::Found && length == 0 ? Finding::NoValue : lookup.finding;
    const size_t needed = length + 1;
    const bool fits = finding == Finding::Found && needed <= capacity;
    if (finding != Finding::Absent) {
        // The caller's buffer may hold anything, unterminated too: only a value written
        // here is shown.
        EvDebug::Debug(&event, kTag, " Parameter %s= %s ", paramName,
                       fits ? lookup.value.c_str() : "");
    }
    if (finding == Finding::Found && !fits) {
        EvDebug::Debug(&event, kTag, "Value of %s in %s does not fit: %zu bytes, capacity %zu ",
                       paramName, onconfigPath, needed, capacity);
        return ERANGE;
    }
    if (!fits) {
        EvDebug::Debug(&event, kTag, "Could not find %s in %s ", paramName, onconfigPath);
        return finding == Finding::Absent ? ENOENT : ENODATA;
    }
    std::memcpy(value, lookup.value.c_str(), needed);
    return 0;
}

}  // namespace

int ReadFromOnconfig(const char* onconfigPath, const char* paramName, char* value) {
    if (onconfigPath == nullptr || paramName == nullptr || value == nullptr) {
        errno = EINVAL;
        return -1;
    }
    EvEvent event;
    const Lookup lookup = lookUp(event, onconfigPath, paramName);
    if (lookup.finding == Finding::Unreadable) {
        return -1;
    }
    if (lookup.finding != Finding::Absent) {
        if (lookup.finding == Finding::Found) {
            std::strncpy(value, lookup.value.c_str(), lookup.value.size() + 1);
        }
        EvDebug::Debug(&event, kTag, " Parameter %s= %s ", paramName, value);
    }
    if (value[0] == '\0') {
        EvDebug::Debug(&event, kTag, "Could not find %s in %s ", paramName, onconfigPath);
        return -1;
    }
    return 0;
}

int ReadFromOnconfig(const char* onconfigPath, const char* paramName, char* value,
                     size_t capacity) {
    if (onconfigPath == nullptr || paramName == nullptr || value == nullptr || capacity == 0) {
        errno = EINVAL;
        return -1;
    }
    const int error = readBounded(onconfigPath, paramName, value, capacity);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return 0;
}
