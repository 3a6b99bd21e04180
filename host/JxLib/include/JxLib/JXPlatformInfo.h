#pragma once

#include <string>

#include <JxLib/JxExport.h>

// Reader of the settings registry. The root directory is JX_REGISTRY_DIR (default
// /etc/jxregistry); a section is the file <root>/<section>, each line of it
// "<name> <value>" with the value verbatim to the end of the line. The file is read at
// every call.
class JXLIB_API JXPlatformInfo {
  public:
    // Non-zero when the item exists and the value with its NUL fits in *size bytes; it is
    // then copied into out. 0 otherwise with out untouched; when the value is too long,
    // *size is set to the capacity it needs. LastError() tells why a lookup failed.
    int getString(const char* section, const char* name, char* out, int* size);

    const std::string& LastError() const { return m_lastError; }

  private:
    std::string m_lastError;
};

class JXLIB_API JXPI_Base {
  public:
    // The registry value dTEMPDIR of the section Host without trailing "/" (a lone "/"
    // stays), or null when it is missing or empty. Valid while this object lives.
    const char* getOrreryTempDirectory();

  private:
    std::string m_tempDirectory;
};

// Reads one registry value whole. False with a readable text in error when the section
// cannot be read or has no such item. Null arguments fail.
JXLIB_API bool JX_ReadRegistryValue(const char* section, const char* name, std::string& value,
                                    std::string& error);
