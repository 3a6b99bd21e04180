#pragma once

#include <cstdint>
#include <string>

#include <ZuUtils/ZuExport.h>

// Outcome of a ZuUtils operation: a 32-bit code (0 on success, a negated errno value on
// failure) and a text that says what failed, for log lines.
class ZUUTILS_API CZuError {
  public:
    CZuError();
    CZuError(int32_t code, std::string text);

    int32_t Code() const { return m_code; }

    // True when the code's sign bit is set.
    bool IsError() const { return m_code < 0; }

    // Never null; "no error" for a success.
    const char* AsString() const { return m_text.c_str(); }

  private:
    int32_t m_code;
    std::string m_text;
};
