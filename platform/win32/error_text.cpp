#include "platform/error_text.h"

#include <windows.h>

namespace platform {

std::string lastErrorText() {
  const DWORD error = GetLastError();
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&text),
      0, nullptr);
  std::string result(text != nullptr ? text : "", length);
  LocalFree(text);
  // English, so that the UTF-8 log gets ASCII whatever the code page; without
  // that language only the number is given. The texts end in a line break.
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result.empty() ? "error " + std::to_string(error)
                        : result + " (error " + std::to_string(error) + ")";
}

}  // namespace platform
