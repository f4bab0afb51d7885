#include "vendor/fake/fake_platform.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace avcm_fake {

void echoToStandardOutput(const std::string& text) {
  (void)std::fputs(text.c_str(), stdout);
  (void)std::fflush(stdout);
  const char* next = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t written = ::write(STDOUT_FILENO, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    next += written;
    left -= static_cast<std::size_t>(written);
  }
}

std::string ansiFromUtf8(const std::string& text) { return text; }

}  // namespace avcm_fake
