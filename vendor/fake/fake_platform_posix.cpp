#include <unistd.h>

#include <cstdio>

#include "vendor/fake/fake_platform.h"

namespace avcm_fake {

void echoToStandardOutput(const std::string& text) {
  (void)std::fputs(text.c_str(), stdout);
  (void)std::fflush(stdout);
  if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) return;
}

std::string ansiFromUtf8(const std::string& text) { return text; }

}  // namespace avcm_fake
