#pragma once

// The shape of the bad-input tables: each row names the call, states the result the
// interface documents for it, and checks that result. Buffers are heap blocks of exactly
// the size passed beside them, so that AddressSanitizer reports any byte written or read
// past the size a function was given.

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ifxtest {

struct Row {
    std::string call;        // the call, as agent code would write it
    std::string documented;  // the result the interface promises for it
    std::function<void()> check;
};

void RunRows(const std::vector<Row>& rows);

// A heap block of exactly size bytes, each one fill: no terminating NUL anywhere unless a
// function writes one.
class ExactBuffer {
  public:
    explicit ExactBuffer(std::size_t size, char fill = 'X');
    char* data() { return m_bytes.get(); }
    std::size_t size() const { return m_size; }
    // True while every byte still holds the fill.
    bool untouched() const;
    // The text up to the first NUL, or all size bytes when there is none.
    std::string text() const;

  private:
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size;
    char m_fill;
};

// A heap copy of text with its NUL and nothing after it.
std::unique_ptr<char[]> ExactString(const std::string& text);

// Runs body in a forked child, so that a row that crashes fails alone instead of ending
// the whole table: the row holds when body returns an empty text. Under LeakSanitizer the
// child also checks for leaks before it ends. For rows whose call could crash.
::testing::AssertionResult SurvivesInAChild(const std::function<std::string()>& body);

}  // namespace ifxtest
