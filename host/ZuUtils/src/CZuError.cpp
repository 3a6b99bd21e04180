#include <ZuUtils/CZuError.h>

#include <utility>

CZuError::CZuError() : m_code(0), m_text("no error") {}

CZuError::CZuError(int32_t code, std::string text) : m_code(code), m_text(std::move(text)) {}
