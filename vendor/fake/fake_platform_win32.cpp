#include "vendor/fake/fake_platform.h"

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <vector>

namespace avcm_fake {

void echoToStandardOutput(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  const char* next = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    int written = _write(1, next, static_cast<unsigned>(left));
    if (written <= 0) return;
    next += written;
    left -= static_cast<std::size_t>(written);
  }
}

std::string ansiFromUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int length = static_cast<int>(text.size());
  int wideLength = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (wideLength <= 0) return std::string();
  std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength));
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), wideLength);
  int ansiLength =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (ansiLength <= 0) return std::string();
  std::string ansi(static_cast<std::size_t>(ansiLength), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, &ansi[0], ansiLength, nullptr, nullptr);
  return ansi;
}

}  // namespace avcm_fake
