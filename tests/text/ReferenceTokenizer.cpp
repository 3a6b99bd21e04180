#include "ReferenceTokenizer.h"

namespace ifxtest {

namespace {
const std::string kAlphabet = std::string("ab ,;\t\"\\") + "\x80\xA0\xFF";
}  // namespace

std::vector<std::string> referenceTokens(const std::string& input, const std::string& separators) {
    std::vector<std::string> tokens;
    std::string current;
    for (char c : input) {
        if (separators.find(c) == std::string::npos) {
            current += c;
        } else if (!current.empty()) {
            tokens.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) {
        tokens.push_back(current);
    }
    return tokens;
}

// A linear congruential generator: the same cases on every machine and run.
unsigned TextGenerator::next() {
    m_state = m_state * 1103515245u + 12345u;
    return m_state >> 8;
}

std::string TextGenerator::text(std::size_t maxLength) {
    std::string result(next() % (maxLength + 1), ' ');
    for (char& c : result) {
        c = kAlphabet[next() % kAlphabet.size()];
    }
    return result;
}

std::string TextGenerator::separators(std::size_t maxCount) {
    std::string result;
    const std::size_t count = next() % (maxCount + 1);
    while (result.size() < count) {
        result += kAlphabet[next() % kAlphabet.size()];
    }
    return result;
}

}  // namespace ifxtest
