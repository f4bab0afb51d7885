// Base64 under arbitrary bytes: encoding pads with '=' and decodes back; any text decodes as the
// literal algorithm does (up to the first character outside the alphabet); UTF-16 decodes as its
// code-page conversion does, saying when only the conversion can tell.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "text/base64.h"
#include "text/text_convert.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

Bytes referenceDecode(const std::string& text) {
  Bytes bytes;
  std::uint32_t group = 0;
  std::size_t count = 0;
  for (char c : text) {
    const std::size_t value = alphabet.find(c);
    if (value == std::string::npos) break;
    group = group << 6 | static_cast<std::uint32_t>(value);
    if (++count % 4 == 0) {
      for (int shift : {16, 8, 0}) bytes.push_back(static_cast<std::uint8_t>(group >> shift));
    }
  }
  // A partial group of n characters holds n - 1 whole bytes.
  const std::size_t tail = count % 4;
  group <<= 6 * (4 - tail);
  for (std::size_t i = 1; tail != 0 && i < tail; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(group >> (24 - 8 * i)));
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size heap copy, so a read past the end is caught.
  const Bytes bytes(data, data + size);
  const std::string encoded = base64Encode(bytes.data(), static_cast<std::uint32_t>(size));
  check(encoded.size() == (size + 2) / 3 * 4);
  const std::size_t padding = (3 - size % 3) % 3;
  check(encoded.find_first_not_of(alphabet) ==
        (padding == 0 ? std::string::npos : encoded.size() - padding));
  check(encoded.compare(encoded.size() - padding, padding, "==", padding) == 0);
  check(base64Decode(encoded) == bytes);
  const std::string text(bytes.begin(), bytes.end());
  check(base64Decode(text) == referenceDecode(text));
  std::u16string units(size / 2, u'\0');
  std::memcpy(units.data(), data, units.size() * 2);
  const auto stop = std::find_if(units.begin(), units.end(), [](char16_t unit) {
    return unit >= 0x80 || alphabet.find(static_cast<char>(unit)) == std::string::npos;
  });
  bool exact = false;
  check(base64DecodeWide(units, exact) == base64Decode(wideToAnsi(units)));
  check(exact == (stop == units.end() || *stop < 0x80));
  return 0;
}
