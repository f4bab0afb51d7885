#include "json/text_scan.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool isStringDelimiter(char16_t unit) { return unit == u'"' || unit == u'\\' || unit < 0x20; }

bool isEscapeCandidate(char16_t unit) {
  return unit == u'"' || unit == u'\\' || unit == u'/' || unit < 0x20 || (unit & 0xF800) == 0xD800;
}

#if defined(__SSE2__)
// Lanes of eight units that hold a unit below U+0020 (unsigned: saturating u - 0x1F is 0).
__m128i controlLanes(__m128i units) {
  return _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x1F)), _mm_setzero_si128());
}

__m128i laneEquals(__m128i units, char16_t unit) {
  return _mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(unit)));
}

// A lane of marks counts at most this many blocks before it is summed, so it stays below 2^15.
constexpr int kMaxBlocksInMarks = 0x7FFF;

std::size_t sumOfLanes(__m128i counts) {
  const __m128i pairs = _mm_madd_epi16(counts, _mm_set1_epi16(1));  // four 32-bit sums
  alignas(16) std::int32_t sums[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(sums), pairs);
  return static_cast<std::size_t>(sums[0]) + static_cast<std::size_t>(sums[1]) +
         static_cast<std::size_t>(sums[2]) + static_cast<std::size_t>(sums[3]);
}

// Index of the first marked unit: each lane sets two bits of the byte mask.
int firstMarkedUnit(int byteMask) { return __builtin_ctz(static_cast<unsigned>(byteMask)) / 2; }
#endif

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The escaped length of the unit at p (and of its partner when it starts a valid pair); sets
// consumed to the units taken.
std::size_t escapedUnitLength(const char16_t* p, const char16_t* end, std::size_t& consumed) {
  consumed = 1;
  const char16_t unit = *p;
  switch (unit) {
    case u'"':
    case u'\\':
    case u'/':
    case u'\b':
    case u'\f':
    case u'\n':
    case u'\r':
    case u'\t':
      return 2;
    default:
      break;
  }
  if (unit < 0x20) {
    return 6;
  }
  if (isHighSurrogate(unit) && end - p >= 2 && isLowSurrogate(p[1])) {
    consumed = 2;
    return 2;
  }
  return (unit & 0xF800) == 0xD800 ? 6 : 1;
}

}  // namespace

#if defined(__SSE2__)
// The loop reads whole aligned 16-byte blocks, so the last block may extend past the text's
// terminator. An aligned block never crosses a page, so those bytes are always readable, and
// the terminator (below U+0020) stops the scan before any of them is looked at. AddressSanitizer
// cannot know this and would report the block, hence the attribute.
__attribute__((no_sanitize_address)) const char16_t* findStringDelimiter(const char16_t* p) {
  while ((reinterpret_cast<std::uintptr_t>(p) & 15) != 0) {
    if (isStringDelimiter(*p)) {
      return p;
    }
    ++p;
  }
  // One block at a time: the block after the terminator's may lie on an unmapped page.
  for (;; p += 8) {
    const __m128i units = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(laneEquals(units, u'"'), laneEquals(units, u'\\')), controlLanes(units));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) {
      return p + firstMarkedUnit(mask);
    }
  }
}
#else
const char16_t* findStringDelimiter(const char16_t* p) {
  while (!isStringDelimiter(*p)) {
    ++p;
  }
  return p;
}
#endif

const char16_t* findEscapeCandidate(const char16_t* p, const char16_t* end) {
#if defined(__SSE2__)
  const __m128i surrogateBits = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  for (; end - p >= 8; p += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i punctuation = _mm_or_si128(
        _mm_or_si128(laneEquals(units, u'"'), laneEquals(units, u'\\')), laneEquals(units, u'/'));
    const __m128i special = _mm_or_si128(
        controlLanes(units), _mm_cmpeq_epi16(_mm_and_si128(units, surrogateBits), surrogate));
    const int mask = _mm_movemask_epi8(_mm_or_si128(punctuation, special));
    if (mask != 0) {
      return p + firstMarkedUnit(mask);
    }
  }
#endif
  while (p != end && !isEscapeCandidate(*p)) {
    ++p;
  }
  return p;
}

std::size_t escapedLength(const char16_t* p, const char16_t* end) {
  std::size_t length = 0;
#if defined(__SSE2__)
  // Blocks with nothing but plain units and the three punctuation marks are counted whole; each
  // lane of marks counts its punctuation (a marked lane is -1, so subtracting adds one).
  const __m128i surrogateBits = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  __m128i marks = _mm_setzero_si128();
  int blocksInMarks = 0;
  while (end - p >= 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i special = _mm_or_si128(
        controlLanes(units), _mm_cmpeq_epi16(_mm_and_si128(units, surrogateBits), surrogate));
    if (_mm_movemask_epi8(special) == 0) {
      const __m128i punctuation = _mm_or_si128(
          _mm_or_si128(laneEquals(units, u'"'), laneEquals(units, u'\\')), laneEquals(units, u'/'));
      marks = _mm_sub_epi16(marks, punctuation);
      length += 8;
      p += 8;
      if (++blocksInMarks == kMaxBlocksInMarks) {
        length += sumOfLanes(marks);
        marks = _mm_setzero_si128();
        blocksInMarks = 0;
      }
      continue;
    }
    for (const char16_t* blockEnd = p + 8; p < blockEnd;) {
      std::size_t consumed = 0;
      length += escapedUnitLength(p, end, consumed);
      p += consumed;
    }
  }
  length += sumOfLanes(marks);
#endif
  while (p != end) {
    std::size_t consumed = 0;
    length += escapedUnitLength(p, end, consumed);
    p += consumed;
  }
  return length;
}
