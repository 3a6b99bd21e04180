// split, ppid and date: the token splitters and two of the operating-system shims.

#include <IfxLib/IfxLib.h>

#include <ctime>
#include <string>

#include "Commands.h"
#include "Output.h"

namespace ifxctl {

namespace {

// A token array from CommandLineToArgv or SplitLine, released once whatever happens.
class TokenArray {
  public:
    TokenArray(char** tokens, int count) : m_tokens(tokens), m_count(count) {}
    ~TokenArray() { free_split_array(m_count, m_tokens); }
    TokenArray(const TokenArray&) = delete;
    TokenArray& operator=(const TokenArray&) = delete;

    char** begin() const { return m_tokens; }
    char** end() const { return m_tokens + m_count; }

  private:
    char** m_tokens;
    int m_count;
};

}  // namespace

int Split(const std::string& separators, const std::optional<std::string>& subSeparators,
          const std::string& text) {
    int count = 0;
    char** tokens =
        subSeparators ? SplitLine(text.c_str(), &count, separators.c_str(), subSeparators->c_str())
                      : CommandLineToArgv(text.c_str(), &count, separators.c_str());
    if (tokens == nullptr) {
        Complain("the text could not be split (out of memory; the log has the size)");
        return kExitFailure;
    }
    const TokenArray owned(tokens, count);
    for (const char* token : owned) {
        if (!PrintLine(token)) {
            return OutputFailed();
        }
    }
    return kExitOk;
}

int ParentPid(int pid) {
    const int parent = GET_PARENTPID(pid);
    if (parent < 0) {
        Complain("no parent process id for " + std::to_string(pid) +
                 ": no such process, or /bin/ps could not run");
        return kExitFailure;
    }
    return PrintLine(std::to_string(parent)) ? kExitOk : OutputFailed();
}

int Date(const std::optional<long>& seconds) {
    const long time = seconds ? *seconds : static_cast<long>(std::time(nullptr));
    // The text lives in one static buffer that the next call overwrites: copy it first.
    const std::string text = CreateDateString(time);
    return PrintLine(text) ? kExitOk : OutputFailed();
}

}  // namespace ifxctl
