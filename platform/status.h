#pragma once

#include <string>
#include <utility>

#include "platform/path.h"

namespace platform {

// The outcome of a platform call. A failure carries what failed (our
// words), the system call, the path or name it concerned and the cause: the
// system's error text with its number, or the check that failed. It is built
// where the call fails, so no later call can overwrite the cause. Texts are
// UTF-8 (system texts of the C locale on POSIX, English on Windows).
class [[nodiscard]] Status {
 public:
  Status() = default;  // success

  // A failure whose cause is our own text (a check that did not pass).
  Status(const char* what, const char* call, const Path& path, std::string cause);
  // The failure of the system call just made; the cause is the calling
  // thread's last error (errno on POSIX, GetLastError on Windows).
  static Status lastError(const char* what, const char* call, const Path& path);

  bool ok() const { return what_.empty(); }
  const std::string& what() const { return what_; }
  const std::string& call() const { return call_; }
  const std::string& path() const { return path_; }
  const std::string& cause() const { return cause_; }
  // "<what>: <call>(<path>): <cause>" for log records; empty on success.
  std::string text() const {
    return ok() ? std::string() : what_ + ": " + call_ + "(" + path_ + "): " + cause_;
  }

 private:
  std::string what_;
  std::string call_;
  std::string path_;
  std::string cause_;
};

}  // namespace platform
