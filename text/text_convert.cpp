#include "text/text_convert.h"

#include <utf8.h>

#include <cstdint>
#include <cstring>

#include "platform/memory.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The common sequences (ASCII runs, valid 2- and 3-byte characters, valid
// surrogate pairs) are converted here; everything else, every error included,
// goes to utfcpp at the position where utf8::utf8to16 / utf8::utf16to8 would
// meet it, so results and exceptions are utfcpp's own.
//
// Output goes through a stack buffer, one slice of the input at a time, and is
// appended to a result reserved once. Sizing the result and writing into it
// would fill it first: libstdc++ fills a char16_t string one unit at a time,
// which costs more than the whole conversion.

namespace {

using Byte = unsigned char;

// Input units (bytes or UTF-16 units) per slice.
constexpr std::size_t kSliceLength = 4096;

// Widens ASCII bytes while at least one whole block remains; stops at the first
// byte >= 0x80 or before the last partial block. A block store may write past
// the ASCII prefix, never past one unit per remaining byte of the slice; the
// units beyond the prefix are overwritten later.
inline void widenAscii(const Byte*& p, const Byte* end, char16_t*& out) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
    const int high = _mm_movemask_epi8(bytes);
    if (high != 0) {
      const int ascii = __builtin_ctz(static_cast<unsigned>(high));
      p += ascii;
      out += ascii;
      return;
    }
    p += 16;
    out += 16;
  }
#else
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if ((word & 0x8080808080808080ull) != 0) {
      while (*p < 0x80) *out++ = *p++;
      return;
    }
    for (int i = 0; i < 8; ++i) out[i] = p[i];
    p += 8;
    out += 8;
  }
#endif
}

// One character that the fast paths do not take (4-byte sequences and all
// errors): utf8::next raises exactly what utf8::utf8to16 raises here.
void decodeByUtfcpp(const Byte*& p, const Byte* end, char16_t*& out) {
  const char* it = reinterpret_cast<const char*>(p);
  const std::uint32_t cp = utf8::next(it, reinterpret_cast<const char*>(end));
  p = reinterpret_cast<const Byte*>(it);
  if (cp > 0xFFFF) {
    *out++ = static_cast<char16_t>((cp >> 10) + 0xD7C0);
    *out++ = static_cast<char16_t>((cp & 0x3FF) + 0xDC00);
  } else {
    *out++ = static_cast<char16_t>(cp);
  }
}

#if defined(__SSE2__)
enum class BlockResult { kDecoded, kAscii, kOther };

// Bit i is set when byte i of `bytes`, masked with `mask`, equals `value`.
inline unsigned bytesMatching(__m128i bytes, int mask, int value) {
  const __m128i masked = _mm_and_si128(bytes, _mm_set1_epi8(static_cast<char>(mask)));
  const __m128i equal = _mm_cmpeq_epi8(masked, _mm_set1_epi8(static_cast<char>(value)));
  return static_cast<unsigned>(_mm_movemask_epi8(equal));
}

// Decodes a block of 16 bytes that holds only ASCII bytes and whole 2-byte
// characters (a lead 0xC2-0xDF on the last byte is left for later) without a
// branch per character: every byte's unit is computed, then the units of
// lead and ASCII bytes are kept. kAscii (an all-ASCII block) and kOther leave
// the block untouched. Writes at most 16 units.
inline BlockResult decodeTwoByteBlock(const Byte*& p, char16_t*& out) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
  if (high == 0) return BlockResult::kAscii;
  const unsigned trail = bytesMatching(bytes, 0xC0, 0x80);
  const unsigned lead = bytesMatching(bytes, 0xE0, 0xC0);
  const unsigned overlong = bytesMatching(bytes, 0xFE, 0xC0);
  // Only leads and trails above 0x7F, no 0xC0/0xC1 lead, every trail right
  // after a lead and every lead (but the last byte) before a trail.
  if (high != (lead | trail) || overlong != 0 || trail != ((lead << 1) & 0xFFFFu)) {
    return BlockResult::kOther;
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i next = _mm_srli_si128(bytes, 1);
  alignas(16) char16_t units[16];
  for (int half = 0; half < 2; ++half) {
    const __m128i b = half == 0 ? _mm_unpacklo_epi8(bytes, zero) : _mm_unpackhi_epi8(bytes, zero);
    const __m128i n = half == 0 ? _mm_unpacklo_epi8(next, zero) : _mm_unpackhi_epi8(next, zero);
    const __m128i twoByte = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(b, _mm_set1_epi16(0x1F)), 6),
                                         _mm_and_si128(n, _mm_set1_epi16(0x3F)));
    const __m128i ascii = _mm_cmplt_epi16(b, _mm_set1_epi16(0x80));
    _mm_store_si128(reinterpret_cast<__m128i*>(units + 8 * half),
                    _mm_or_si128(_mm_and_si128(ascii, b), _mm_andnot_si128(ascii, twoByte)));
  }
  const unsigned cut = lead >> 15;  // the last byte is a lead: leave it
  const unsigned keep = ~trail & ~(cut << 15);
  for (int i = 0; i < 16; ++i) {
    *out = units[i];
    out += (keep >> i) & 1u;
  }
  p += 16 - cut;
  return BlockResult::kDecoded;
}
#endif

// Decodes characters from a lead byte >= 0x80 until a run of ASCII bytes or
// the end of the slice. Single ASCII bytes between characters (the spaces
// between words) are taken here. The last character may reach past the slice,
// up to the end of the text.
inline void decodeNonAscii(const Byte*& p, const Byte* sliceEnd, const Byte* end, char16_t*& out) {
  while (p < sliceEnd) {
#if defined(__SSE2__)
    if (sliceEnd - p >= 16) {
      const BlockResult block = decodeTwoByteBlock(p, out);
      if (block == BlockResult::kDecoded) continue;
      if (block == BlockResult::kAscii) return;
    }
#endif
    const unsigned b0 = p[0];
    if (b0 < 0x80u) {
      if (sliceEnd - p < 2 || p[1] < 0x80u) return;
      *out++ = static_cast<char16_t>(b0);
      ++p;
      continue;
    }
    if (end - p >= 4) {
      // Two 2-byte characters at once (Cyrillic, Greek, ... words): two leads
      // 0xC2-0xDF, each followed by a trail byte.
      const std::uint32_t word = b0 | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                                 (std::uint32_t{p[3]} << 24);
      if ((word & 0xC0E0C0E0u) == 0x80C080C0u && (word & 0x1Eu) != 0 && (word & 0x1E0000u) != 0) {
        out[0] = static_cast<char16_t>(((word & 0x1Fu) << 6) | ((word >> 8) & 0x3Fu));
        out[1] = static_cast<char16_t>(((word >> 10) & 0x7C0u) | ((word >> 24) & 0x3Fu));
        out += 2;
        p += 4;
        continue;
      }
    }
    if (b0 - 0xC2u < 0x1Eu && end - p >= 2 && (p[1] & 0xC0u) == 0x80u) {
      *out++ = static_cast<char16_t>(((b0 & 0x1Fu) << 6) | (p[1] & 0x3Fu));
      p += 2;
      continue;
    }
    if ((b0 & 0xF0u) == 0xE0u && end - p >= 3 && (p[1] & 0xC0u) == 0x80u &&
        (p[2] & 0xC0u) == 0x80u) {
      const unsigned cp = ((b0 & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      // Overlong forms and surrogates are utfcpp's to report.
      if (cp >= 0x800u && (cp & 0xF800u) != 0xD800u) {
        *out++ = static_cast<char16_t>(cp);
        p += 3;
        continue;
      }
    }
    decodeByUtfcpp(p, end, out);
  }
}

// Narrows ASCII units while at least one whole block remains; stops at the
// first unit >= 0x80 or before the last partial block. A block store may write
// past the ASCII prefix, never past one byte per remaining unit of the slice;
// the bytes beyond the prefix are overwritten later.
inline void narrowAscii(const char16_t*& p, const char16_t* end, char*& out) {
#if defined(__SSE2__)
  const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
    const __m128i high = _mm_and_si128(_mm_or_si128(a, b), nonAscii);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF) {
      const __m128i asciiA = _mm_cmpeq_epi16(_mm_and_si128(a, nonAscii), zero);
      const __m128i asciiB = _mm_cmpeq_epi16(_mm_and_si128(b, nonAscii), zero);
      const unsigned ascii =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(asciiA, asciiB)));
      const int prefix = __builtin_ctz(~ascii);
      p += prefix;
      out += prefix;
      return;
    }
    p += 16;
    out += 16;
  }
#else
  while (end - p >= 4) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if ((word & 0xFF80FF80FF80FF80ull) != 0) {
      while (*p < 0x80u) *out++ = static_cast<char>(*p++);
      return;
    }
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(p[i]);
    p += 4;
    out += 4;
  }
#endif
}

// UTF-8 length of the units in [p, end) with every surrogate counted as half
// of a pair: one byte per unit, one more from U+0080, one more from U+0800,
// one less for each surrogate (a pair needs four bytes). `surrogates` counts
// the surrogate units seen.
std::size_t pairedUtf8Length(const char16_t* p, const char16_t* end, std::size_t& surrogates) {
  std::size_t length = static_cast<std::size_t>(end - p);
#if defined(__SSE2__)
  const __m128i ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i twoBytes = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  while (end - p >= 8) {
    // Each lane subtracts at most 3 per round: 8192 rounds stay inside int16.
    const std::ptrdiff_t rounds = (end - p) / 8 < 8192 ? (end - p) / 8 : 8192;
    __m128i sum = zero;
    for (std::ptrdiff_t i = 0; i < rounds; ++i, p += 8) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i top = _mm_and_si128(units, twoBytes);
      // -1 for: below U+0080, below U+0800, a surrogate.
      const __m128i below800 = _mm_add_epi16(_mm_cmpeq_epi16(_mm_and_si128(units, ascii), zero),
                                             _mm_cmpeq_epi16(top, zero));
      const __m128i isSurrogate = _mm_cmpeq_epi16(top, surrogate);
      sum = _mm_add_epi16(sum, _mm_add_epi16(below800, isSurrogate));
      surrogates += static_cast<std::size_t>(
                        __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(isSurrogate)))) /
                    2;
    }
    alignas(16) std::int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_madd_epi16(sum, ones));
    const std::ptrdiff_t negative = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    length += static_cast<std::size_t>(rounds * 8 * 2 + negative);
  }
#endif
  for (; p != end; ++p) {
    const unsigned unit = *p;
    const bool surrogate = (unit & 0xF800u) == 0xD800u;
    length += static_cast<std::size_t>((unit >= 0x80u) + (unit >= 0x800u) - surrogate);
    surrogates += surrogate ? 1 : 0;
  }
  return length;
}

#if defined(__SSE2__)
// Encodes a block of 8 units below U+0800, not all ASCII, without a branch
// per unit: every unit's one or two bytes are computed, then copied two at a
// time, advancing by the unit's length. kAscii and kOther leave the block
// untouched. Writes at most 16 bytes.
inline BlockResult encodeTwoByteBlock(const char16_t*& p, char*& out) {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i zero = _mm_setzero_si128();
  const __m128i ascii =
      _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80))), zero);
  const unsigned asciiMask = static_cast<unsigned>(_mm_movemask_epi8(ascii));
  if (asciiMask == 0xFFFFu) return BlockResult::kAscii;
  const __m128i above = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xF800)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(above, zero)) != 0xFFFF) return BlockResult::kOther;
  // Lead byte first in memory, trail byte second.
  const __m128i lead = _mm_or_si128(_mm_srli_epi16(units, 6), _mm_set1_epi16(0xC0));
  const __m128i trail =
      _mm_or_si128(_mm_and_si128(units, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
  const __m128i twoBytes = _mm_or_si128(lead, _mm_slli_epi16(trail, 8));
  alignas(16) char bytes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(bytes),
                  _mm_or_si128(_mm_and_si128(ascii, units), _mm_andnot_si128(ascii, twoBytes)));
  for (int i = 0; i < 8; ++i) {
    std::memcpy(out, bytes + 2 * i, 2);
    out += 2 - ((asciiMask >> (2 * i)) & 1u);
  }
  p += 8;
  return BlockResult::kDecoded;
}
#endif

// Encodes units from one >= 0x80 until a run of ASCII units or the end of the
// slice; single ASCII units between others are taken here, and a surrogate
// pair may reach one unit past the slice. Under kThrow unpaired surrogates go
// to utf8::utf16to8, which raises exactly what it raises over the whole text.
inline void encodeNonAscii(const char16_t*& p, const char16_t* sliceEnd, const char16_t* end,
                           char*& out, LoneSurrogate policy) {
  while (p < sliceEnd) {
#if defined(__SSE2__)
    if (sliceEnd - p >= 8) {
      const BlockResult block = encodeTwoByteBlock(p, out);
      if (block == BlockResult::kDecoded) continue;
      if (block == BlockResult::kAscii) return;
    }
#endif
    const unsigned unit = *p;
    if (unit < 0x80u) {
      if (sliceEnd - p < 2 || p[1] < 0x80u) return;
      *out++ = static_cast<char>(unit);
      ++p;
    } else if (unit < 0x800u) {
      out[0] = static_cast<char>(0xC0u | (unit >> 6));
      out[1] = static_cast<char>(0x80u | (unit & 0x3Fu));
      out += 2;
      ++p;
    } else if ((unit & 0xF800u) != 0xD800u) {
      out[0] = static_cast<char>(0xE0u | (unit >> 12));
      out[1] = static_cast<char>(0x80u | ((unit >> 6) & 0x3Fu));
      out[2] = static_cast<char>(0x80u | (unit & 0x3Fu));
      out += 3;
      ++p;
    } else if (unit < 0xDC00u && end - p >= 2 && (p[1] & 0xFC00u) == 0xDC00u) {
      const std::uint32_t cp = (unit << 10) + p[1] - 0x35FDC00u;
      out[0] = static_cast<char>(0xF0u | (cp >> 18));
      out[1] = static_cast<char>(0x80u | ((cp >> 12) & 0x3Fu));
      out[2] = static_cast<char>(0x80u | ((cp >> 6) & 0x3Fu));
      out[3] = static_cast<char>(0x80u | (cp & 0x3Fu));
      out += 4;
      p += 2;
    } else if (policy == LoneSurrogate::kReplacement) {
      out[0] = '\xEF';
      out[1] = '\xBF';
      out[2] = '\xBD';
      out += 3;
      ++p;
    } else if (policy == LoneSurrogate::kQuestionMark) {
      *out++ = '?';
      ++p;
    } else {
      const char16_t* stop = end - p >= 2 ? p + 2 : end;
      out = utf8::utf16to8(p, stop, out);
      p = stop;  // not reached: an unpaired surrogate always throws
    }
  }
}

}  // namespace

std::u16string utf8ToWide(const char* data, std::size_t size) {
  std::u16string result;
  // A slice writes at most one unit per byte it consumes: its own bytes and
  // up to three more of a character that starts inside it.
  char16_t buffer[kSliceLength + 3];
  const Byte* p = reinterpret_cast<const Byte*>(data);
  const Byte* const end = p + size;
  while (p != end) {
    const Byte* const sliceEnd =
        static_cast<std::size_t>(end - p) > kSliceLength ? p + kSliceLength : end;
    char16_t* out = buffer;
    while (p < sliceEnd) {
      widenAscii(p, sliceEnd, out);
      if (p == sliceEnd) break;
      if (*p < 0x80) {
        *out++ = *p++;
      } else {
        decodeNonAscii(p, sliceEnd, end, out);
      }
    }
    const std::size_t length = static_cast<std::size_t>(out - buffer);
    // Once: this slice and one unit per byte left, which is always enough
    // and exact for a text of one slice.
    if (result.empty()) {
      result.reserve(length + static_cast<std::size_t>(end - p));
      platform::preferLargePages(result.data(), result.capacity() * sizeof(char16_t));
    }
    result.append(buffer, length);
  }
  return result;
}

std::u16string utf8ToWide(const std::string& bytes) {
  return utf8ToWide(bytes.data(), bytes.size());
}

std::string wideToUtf8(const char16_t* data, std::size_t size, LoneSurrogate policy) {
  std::string result;
  bool measured = false;
  // A slice writes at most three bytes per unit, and a pair that starts on its
  // last unit four bytes.
  char buffer[3 * kSliceLength + 1];
  const char16_t* p = data;
  const char16_t* const end = p + size;
  while (p != end) {
    const char16_t* const sliceEnd =
        static_cast<std::size_t>(end - p) > kSliceLength ? p + kSliceLength : end;
    char* out = buffer;
    while (p < sliceEnd) {
      if (*p < 0x80u) {
        narrowAscii(p, sliceEnd, out);
        if (p < sliceEnd && *p < 0x80u) *out++ = static_cast<char>(*p++);
      } else {
        encodeNonAscii(p, sliceEnd, end, out, policy);
      }
    }
    const std::size_t length = static_cast<std::size_t>(out - buffer);
    const std::size_t left = static_cast<std::size_t>(end - p);
    // First this slice and one byte per unit left, which is exact for a text
    // of one slice and for ASCII. When other units make that too little, the
    // rest is measured once, so an ASCII text is read only once.
    if (result.empty()) {
      result.reserve(length + left);
    } else if (!measured && result.size() + length + left > result.capacity()) {
      result.reserve(result.size() + length +
                     utf8Length(p, static_cast<std::size_t>(end - p), LoneSurrogate::kReplacement));
      measured = true;
    }
    result.append(buffer, length);
  }
  return result;
}

std::string wideToUtf8(const std::u16string& text, LoneSurrogate policy) {
  return wideToUtf8(text.data(), text.size(), policy);
}

std::size_t utf8Length(const char16_t* data, std::size_t size, LoneSurrogate policy) {
  std::size_t surrogates = 0;
  std::size_t length = pairedUtf8Length(data, data + size, surrogates);
  if (surrogates == 0) return length;
  // Rare: find the unpaired ones, counted above as two bytes each.
  const char16_t* const end = data + size;
  for (const char16_t* p = data; p != end; ++p) {
    if ((*p & 0xF800u) != 0xD800u) continue;
    if (*p < 0xDC00u && end - p >= 2 && (p[1] & 0xFC00u) == 0xDC00u) {
      ++p;
      continue;
    }
    if (policy == LoneSurrogate::kThrow) throw utf8::invalid_utf16(*p);
    length = policy == LoneSurrogate::kReplacement ? length + 1 : length - 1;
  }
  return length;
}

std::size_t utf8Length(const std::u16string& text, LoneSurrogate policy) {
  return utf8Length(text.data(), text.size(), policy);
}
