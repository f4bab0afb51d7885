#include <io.h>
#include <windows.h>

#include <cstdio>

#include "vendor/fake/fake_platform.h"

namespace avcm_fake {

void echoToStandardOutput(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  (void)_write(1, text.data(), static_cast<unsigned>(text.size()));
}

// Short texts only: through UTF-16 into fixed buffers.
std::string ansiFromUtf8(const std::string& text) {
  wchar_t wide[256];
  char ansi[512];
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, 256);
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, length, ansi, 512, nullptr, nullptr);
  return bytes > 0 ? std::string(ansi, static_cast<std::size_t>(bytes - 1)) : std::string();
}

}  // namespace avcm_fake
