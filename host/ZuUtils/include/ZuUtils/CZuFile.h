#pragma once

#include <string>

#include <ZuUtils/CZuError.h>
#include <ZuUtils/ZuExport.h>

class ZUUTILS_API CZuFile {
  public:
    // Replaces content with every byte of the file. On failure content is left empty and
    // the error's code is the negated errno (-EINVAL for a null path); a directory fails
    // with -EISDIR.
    static CZuError ReadWholeFile(const char* path, std::string& content);
};
