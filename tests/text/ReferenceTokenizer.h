#pragma once

#include <string>
#include <vector>

namespace ifxtest {

// Maximal runs of bytes not in separators: the token grammar of the splitters, written
// without strtok so that the two can check each other.
std::vector<std::string> referenceTokens(const std::string& input, const std::string& separators);

// Random bytes from a small alphabet rich in separators, blanks and high bytes.
class TextGenerator {
  public:
    explicit TextGenerator(unsigned seed) : m_state(seed) {}
    std::string text(std::size_t maxLength);
    std::string separators(std::size_t maxCount);

  private:
    unsigned next();
    unsigned m_state;
};

}  // namespace ifxtest
