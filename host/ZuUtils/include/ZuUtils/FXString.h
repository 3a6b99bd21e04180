#pragma once

#include <string>
#include <vector>

#include <ZuUtils/ZuExport.h>

class FXString {
  public:
    // Split option: leave out empty pieces, so that a run of separators separates once.
    static constexpr unsigned int kSkipEmpty = 1;

    // Appends to pieces the parts of source between successive separators. Without
    // kSkipEmpty, empty parts are kept. An empty separator yields source as one piece.
    ZUUTILS_API static void Split(const std::string& source, const std::string& separator,
                                  std::vector<std::string>& pieces, unsigned int options);

    // Removes every character of chars from both ends of str.
    ZUUTILS_API static void Trim(std::string& str, const std::string& chars);

    // Replaces every occurrence of from at or after position start by to.
    ZUUTILS_API static void ReplaceAll(std::string& str, const std::string& from,
                                       const std::string& to, unsigned long start);

    // First occurrence of substr in str, or null. ignoreCase false compares bytes exactly.
    // Null arguments give null.
    ZUUTILS_API static const char* FindString(const char* str, const char* substr, bool ignoreCase);

    // These two are inline in the interface: their bodies, below, are compiled into
    // whichever program or library calls them, and ZuUtils exports neither.

    // 0 exactly when str begins with prefix; otherwise the order of str's first
    // prefix.size() characters against prefix, as std::string::compare gives it.
    static int CompareLeft(const std::string& str, const std::string& prefix) {
        return str.compare(0, prefix.size(), prefix);
    }

    // The search of the pointer form over str's characters; null exactly when substr does
    // not occur.
    static const char* FindString(const std::string& str, const char* substr, bool ignoreCase) {
        return FindString(str.c_str(), substr, ignoreCase);
    }
};
