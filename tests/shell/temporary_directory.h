// A fresh empty folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace pellvane::testing {

class TemporaryDirectory {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string text() const { return path_.string(); }
    std::filesystem::path file(const char* name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

}  // namespace pellvane::testing
