#include "text/base64.h"

#include <cstring>
#include <stdexcept>

#include "platform/memory.h"

// All tables are constant-initialised at compile time, so they are complete
// before the entry point runs and are only ever read.

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';

// The two characters of every 12-bit value: a group of three bytes is two
// lookups and two 2-byte copies.
struct CharacterPairs {
  char chars[2 * 4096];
};

constexpr CharacterPairs makeCharacterPairs() {
  CharacterPairs pairs{};
  for (int value = 0; value < 4096; ++value) {
    pairs.chars[2 * value] = kAlphabet[value >> 6];
    pairs.chars[2 * value + 1] = kAlphabet[value & 0x3F];
  }
  return pairs;
}

constexpr CharacterPairs kCharacterPairs = makeCharacterPairs();

// Set in every table entry of a character outside the alphabet ('=' and all
// bytes >= 0x80 included); above the 24 bits that four characters fill.
constexpr std::uint32_t kForeign = 0x01000000;

// For each position in a group of four, every byte's 6-bit value already
// shifted into place, so a group decodes as four lookups OR-ed together.
struct DecodeTables {
  std::uint32_t shifted[4][256];
};

constexpr int alphabetValue(int c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

constexpr DecodeTables makeDecodeTables() {
  DecodeTables tables{};
  for (int c = 0; c < 256; ++c) {
    const int value = alphabetValue(c);
    for (int position = 0; position < 4; ++position) {
      tables.shifted[position][c] =
          value < 0 ? kForeign : static_cast<std::uint32_t>(value) << (18 - 6 * position);
    }
  }
  return tables;
}

constexpr DecodeTables kDecode = makeDecodeTables();

inline void encodeGroup(std::uint32_t group, char* out) {
  std::memcpy(out, &kCharacterPairs.chars[2 * (group >> 12)], 2);
  std::memcpy(out + 2, &kCharacterPairs.chars[2 * (group & 0xFFF)], 2);
}

}  // namespace

std::string base64Encode(const std::uint8_t* bytes, std::uint32_t length) {
  std::string text;
  if (length == 0) return text;
  const std::uint64_t size = (static_cast<std::uint64_t>(length) + 2) / 3 * 4;
  // Only reachable in a 32-bit process; the string could not hold the text.
  if (size > text.max_size()) throw std::length_error("base64Encode: text too long");
  text.resize(static_cast<std::size_t>(size));
  char* out = &text[0];
  const std::uint8_t* p = bytes;
  const std::uint8_t* const groupsEnd = bytes + (length - length % 3);
  for (; p != groupsEnd; p += 3, out += 4) {
    encodeGroup((std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2], out);
  }
  const std::uint32_t remaining = length % 3;
  if (remaining != 0) {
    std::uint32_t group = std::uint32_t{p[0]} << 16;
    if (remaining == 2) group |= std::uint32_t{p[1]} << 8;
    encodeGroup(group, out);
    out[3] = kPad;
    if (remaining == 1) out[2] = kPad;
  }
  return text;
}

namespace {

// The table entry of a character; units beyond one byte are foreign.
inline std::uint32_t lookup(int position, unsigned char unit) {
  return kDecode.shifted[position][unit];
}
inline std::uint32_t lookup(int position, char16_t unit) {
  return unit < 0x100 ? kDecode.shifted[position][unit] : kForeign;
}

// Decodes the leading run of alphabet characters of [p, end) and returns
// where the run stopped (end when it did not).
template <typename Unit>
const Unit* decodeRun(const Unit* p, const Unit* const end, std::vector<std::uint8_t>& bytes) {
  const std::size_t size = static_cast<std::size_t>(end - p);
  // Three bytes per whole group, at most two from a partial one.
  bytes.reserve(size / 4 * 3 + 2);
  platform::preferLargePages(bytes.data(), bytes.capacity());
  bytes.resize(size / 4 * 3 + 2);
  std::uint8_t* const begin = bytes.data();
  std::uint8_t* out = begin;
  const Unit* const groupsEnd = p + (size - size % 4);
  for (; p != groupsEnd; p += 4, out += 3) {
    const std::uint32_t group =
        lookup(0, p[0]) | lookup(1, p[1]) | lookup(2, p[2]) | lookup(3, p[3]);
    if (group & kForeign) break;
    out[0] = static_cast<std::uint8_t>(group >> 16);
    out[1] = static_cast<std::uint8_t>(group >> 8);
    out[2] = static_cast<std::uint8_t>(group);
  }
  // The last group: its characters before the first foreign one (at most
  // three), which give one byte fewer than their count.
  std::uint32_t group = 0;
  int count = 0;
  for (; p != end && count < 4; ++p, ++count) {
    const std::uint32_t value = lookup(count, *p);
    if (value & kForeign) break;
    group |= value;
  }
  if (count >= 2) *out++ = static_cast<std::uint8_t>(group >> 16);
  if (count >= 3) *out++ = static_cast<std::uint8_t>(group >> 8);
  bytes.resize(static_cast<std::size_t>(out - begin));
  return p;
}

}  // namespace

std::vector<std::uint8_t> base64Decode(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  if (text.empty()) return bytes;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  decodeRun(p, p + text.size(), bytes);
  return bytes;
}

std::vector<std::uint8_t> base64DecodeWide(const std::u16string& text, bool& exact) {
  std::vector<std::uint8_t> bytes;
  exact = true;
  if (text.empty()) return bytes;
  const char16_t* end = text.data() + text.size();
  const char16_t* stop = decodeRun(text.data(), end, bytes);
  exact = stop == end || *stop < 0x80;
  return bytes;
}
