// Base64 codec under arbitrary bytes: whatever is encoded decodes back to the
// same bytes, and decoding any text keeps to the text's own bytes and stops
// exactly where the leading run of alphabet characters ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/base64.h"

namespace {

bool isAlphabet(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

void check(bool condition) {
  if (!condition) std::abort();
}

void checkRoundTrip(const std::uint8_t* data, std::size_t size) {
  // An exact-size heap copy, so a read past the end is caught.
  std::vector<std::uint8_t> bytes(data, data + size);
  const std::string text = base64Encode(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  check(text.size() == (size + 2) / 3 * 4);
  check(base64Decode(text) == bytes);
}

void checkDecode(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t run = 0;
  while (run < size && isAlphabet(data[run])) ++run;
  const std::vector<std::uint8_t> decoded = base64Decode(text);
  // Three bytes per whole group, one fewer than the characters of a partial one.
  const std::size_t tail = run % 4;
  check(decoded.size() == run / 4 * 3 + (tail == 0 ? 0 : tail - 1));
  // Whatever follows the run changes nothing.
  check(decoded == base64Decode(text.substr(0, run)));
  // A run of whole groups is canonical Base64 of its bytes.
  if (tail == 0) {
    check(base64Encode(decoded.data(), static_cast<std::uint32_t>(decoded.size())) ==
          text.substr(0, run));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkRoundTrip(data, size);
  checkDecode(data, size);
  return 0;
}
