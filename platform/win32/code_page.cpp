#include "platform/code_page.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

// Both directions size the result with a first call and fill it with a
// second, as the system converters require; a failure gives empty text.

std::u16string ansiToWide(const std::string& text) {
  if (text.empty()) return {};
  int size = static_cast<int>(text.size());
  int units = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(&wide[0]), units);
  return wide;
}

std::string wideToCodePage(const std::u16string& text, unsigned codePage) {
  if (text.empty()) return {};
  const wchar_t* units = reinterpret_cast<const wchar_t*>(text.data());
  int size = static_cast<int>(text.size());
  int bytes = WideCharToMultiByte(codePage, 0, units, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string converted(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, units, size, &converted[0], bytes, nullptr, nullptr);
  return converted;
}

std::string wideToAnsi(const std::u16string& text) { return wideToCodePage(text, CP_ACP); }

}  // namespace platform
