#pragma once

#include <optional>
#include <string>

namespace ifxtest {

// Sets (or unsets, with std::nullopt) one environment variable and puts the old value
// back at the end of the scope.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

}  // namespace ifxtest
