#include <cstdint>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "text/text_convert.h"

// On POSIX the "ANSI code page" is UTF-8. Paths and names must survive any
// bytes the system hands over, so the conversion is lenient where the strict
// UTF-8 conversions throw: each maximal ill-formed subpart (the Unicode
// recommendation, also what Windows' and browsers' decoders do) becomes one
// U+FFFD, and an unpaired surrogate is written as '?'. On Windows the system
// converts with CP_ACP.

namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

// Decodes one character starting at a lead byte >= 0x80 and advances `p` past
// it, or past its maximal ill-formed subpart (at least one byte) for U+FFFD.
std::uint32_t decodeLenient(const unsigned char*& p, const unsigned char* end) {
  const unsigned lead = *p++;
  int trailCount;
  std::uint32_t cp;
  // The permitted range of the first trail byte excludes overlong forms,
  // surrogates and values above U+10FFFF (Unicode table 3-7).
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailCount = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailCount = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailCount = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kReplacementCharacter;
  }
  for (int i = 0; i < trailCount; ++i) {
    if (p == end || *p < low || *p > high) return kReplacementCharacter;
    cp = (cp << 6) | (*p++ & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  return cp;
}

[[maybe_unused]] std::u16string utf8ToWideLenient(const std::string& text) {
  std::u16string result;
  if (text.empty()) return result;
  // Every UTF-16 unit written consumes at least one byte (a pair four).
  result.resize(text.size());
  char16_t* const begin = &result[0];
  char16_t* out = begin;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p != end) {
    if (*p < 0x80) {
      *out++ = *p++;
      continue;
    }
    const std::uint32_t cp = decodeLenient(p, end);
    if (cp > 0xFFFF) {
      *out++ = static_cast<char16_t>((cp >> 10) + 0xD7C0);
      *out++ = static_cast<char16_t>((cp & 0x3FF) + 0xDC00);
    } else {
      *out++ = static_cast<char16_t>(cp);
    }
  }
  result.resize(static_cast<std::size_t>(out - begin));
  return result;
}

[[maybe_unused]] void assignPath(const std::u16string& text, std::u16string& path) { path = text; }
[[maybe_unused]] void assignPath(const std::u16string& text, std::string& path) {
  path = wideToAnsi(text);
}
[[maybe_unused]] std::u16string textOfPath(const std::u16string& path) { return path; }
[[maybe_unused]] std::u16string textOfPath(const std::string& path) { return ansiToWide(path); }

}  // namespace

std::u16string ansiToWide(const std::string& text) {
  if constexpr (platform::kAnsiCodePageIsUtf8) {
    return utf8ToWideLenient(text);
  } else {
    return platform::ansiToWide(text);
  }
}

std::string wideToAnsi(const std::u16string& text) {
  if constexpr (platform::kAnsiCodePageIsUtf8) {
    return wideToUtf8(text, LoneSurrogate::kQuestionMark);
  } else {
    return platform::wideToAnsi(text);
  }
}

platform::Path toPath(const std::u16string& text) {
  platform::Path path;
  assignPath(text, path);
  return path;
}

std::u16string pathText(const platform::Path& path) { return textOfPath(path); }
