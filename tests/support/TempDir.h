#pragma once

#include <string>

namespace ifxtest {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

    // Writes content to name inside the directory and returns the full path.
    std::string write(const std::string& name, const std::string& content) const;

  private:
    std::string m_path;
};

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace ifxtest
