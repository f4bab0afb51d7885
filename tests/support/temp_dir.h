#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

// A private temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    // Read once: tests point TMPDIR at their own TempDir, which is gone by the next test.
    static const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "quorvant-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The host's private folder when this directory is its TMPDIR.
  std::string hostPath() const { return path_ + "/" + hostFolder(); }
  static std::string hostFolder() { return "quorvant-" + std::to_string(::geteuid()); }
  std::u16string widePath() const { return std::u16string(path_.begin(), path_.end()); }
  // Everything inside `sub`, relative to it and sorted; folders end in "/".
  std::vector<std::string> entries(const std::string& sub = "") const {
    const std::filesystem::path base = path_ + "/" + sub;
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(base, ignored)) {
      names.push_back(std::filesystem::relative(entry.path(), base).string() +
                      (entry.is_directory() ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};
