// The UTF-8/UTF-16 conversions under arbitrary input: each gives exactly what
// utfcpp's utf8to16 / utf16to8 give (the same text, or the same exception with
// the same message), and every successful conversion converts back to its
// input. Inputs are exact-size heap copies, so a read past the end is caught.
// Each input is also checked after ASCII runs on both sides of the fast
// paths' 16-byte blocks.
#include <utf8.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <typeinfo>

#include "text/text_convert.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// The result of one conversion: its text, or the exception's type and message.
template <typename Text>
struct Outcome {
  Text text;
  std::string error;
  bool operator==(const Outcome& other) const { return text == other.text && error == other.error; }
};

std::string describe(const std::exception& failure) {
  return std::string(typeid(failure).name()) + ": " + failure.what();
}

void checkUtf8(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> bytes(new char[size]);
  if (size != 0) std::memcpy(bytes.get(), data, size);
  Outcome<std::u16string> ours, reference;
  try {
    ours.text = utf8ToWide(bytes.get(), size);
  } catch (const std::exception& failure) {
    ours.error = describe(failure);
  }
  try {
    utf8::utf8to16(bytes.get(), bytes.get() + size, std::back_inserter(reference.text));
  } catch (const std::exception& failure) {
    reference.text.clear();
    reference.error = describe(failure);
  }
  check(ours == reference);
  if (ours.error.empty()) {
    check(utf8ToWide(std::string(bytes.get(), size)) == ours.text);
    check(wideToUtf8(ours.text) == std::string(bytes.get(), size));
  }
}

void checkUtf16(const std::uint8_t* data, std::size_t size) {
  const std::size_t units = size / 2;
  std::unique_ptr<char16_t[]> text(new char16_t[units]);
  if (units != 0) std::memcpy(text.get(), data, units * 2);
  Outcome<std::string> ours, reference;
  try {
    ours.text = wideToUtf8(text.get(), units);
  } catch (const std::exception& failure) {
    ours.error = describe(failure);
  }
  try {
    utf8::utf16to8(text.get(), text.get() + units, std::back_inserter(reference.text));
  } catch (const std::exception& failure) {
    reference.text.clear();
    reference.error = describe(failure);
  }
  check(ours == reference);
  if (ours.error.empty()) {
    check(wideToUtf8(std::u16string(text.get(), units)) == ours.text);
    check(utf8ToWide(ours.text) == std::u16string(text.get(), units));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::size_t run : {0, 1, 7, 15, 16, 17, 33}) {
    std::string bytes(run, '!'), units;
    for (std::size_t i = 0; i < run; ++i) units += std::string("!\0", 2);
    bytes.append(reinterpret_cast<const char*>(data), size);
    units.append(reinterpret_cast<const char*>(data), size);
    checkUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    checkUtf16(reinterpret_cast<const std::uint8_t*>(units.data()), units.size());
  }
  return 0;
}
