#include "platform/status.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// Paths are UTF-16 here; the log is UTF-8 whatever the code page.
std::string utf8(const Path& path) { return wideToCodePage(path, CP_UTF8); }

}  // namespace

Status::Status(const char* what, const char* call, const Path& path, std::string cause)
    : what_(what), call_(call), path_(utf8(path)), cause_(std::move(cause)) {}

Status Status::lastError(const char* what, const char* call, const Path& path) {
  const DWORD error = GetLastError();
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&text),
      0, nullptr);
  std::string cause(text != nullptr ? text : "", length);
  LocalFree(text);
  // English, so that the UTF-8 log gets ASCII whatever the code page; without
  // that language only the number is given. The texts end in a line break.
  while (!cause.empty() && (cause.back() == '\n' || cause.back() == '\r')) cause.pop_back();
  cause = cause.empty() ? "error " + std::to_string(error)
                        : cause + " (error " + std::to_string(error) + ")";
  return Status(what, call, path, std::move(cause));
}

}  // namespace platform
