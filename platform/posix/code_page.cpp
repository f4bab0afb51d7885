#include "platform/code_page.h"

#include <cstdint>

// On POSIX the "ANSI code page" is UTF-8. Paths and names must survive any
// bytes the system hands over, so the conversion is lenient where the strict
// UTF-8 conversions of the host throw: each maximal ill-formed subpart (the
// Unicode recommendation, also what Windows' and browsers' decoders do)
// becomes one U+FFFD, and an unpaired surrogate is written as '?'.

namespace platform {
namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;
constexpr char kDefaultCharacter = '?';

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

}  // namespace

std::u16string ansiToWide(const std::string& text) {
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

namespace {

std::size_t ansiLength(const std::u16string& text) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t unit = text[i];
    if (unit < 0x80) {
      bytes += 1;
    } else if (unit < 0x800) {
      bytes += 2;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      bool pair =
          unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
      bytes += pair ? 4 : 1;
      i += pair ? 1 : 0;
    } else {
      bytes += 3;
    }
  }
  return bytes;
}

}  // namespace

std::string wideToAnsi(const std::u16string& text) {
  std::string result;
  if (text.empty()) return result;
  // Sized exactly by a counting pass: staging converts the whole Base64
  // content, and three bytes per unit would touch three times its memory.
  result.resize(ansiLength(text));
  char* const begin = &result[0];
  char* out = begin;
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p != end) {
    std::uint32_t cp = *p++;
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && p != end && *p >= 0xDC00 && *p <= 0xDFFF) {
        cp = (cp << 10) + *p++ - 0x35FDC00u;
      } else {
        *out++ = kDefaultCharacter;
        continue;
      }
    }
    if (cp < 0x80) {
      *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
      *out++ = static_cast<char>(0xC0 | (cp >> 6));
      *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out++ = static_cast<char>(0xE0 | (cp >> 12));
      *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *out++ = static_cast<char>(0xF0 | (cp >> 18));
      *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  result.resize(static_cast<std::size_t>(out - begin));
  return result;
}

}  // namespace platform
