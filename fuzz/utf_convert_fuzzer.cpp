// The UTF-8/UTF-16 conversions under arbitrary input: each gives exactly what
// utfcpp's utf8to16 / utf16to8 give (the same text, or the same exception with
// the same message), every successful conversion converts back to its input,
// the lenient code-page conversions agree on valid text, and the UTF-8 length
// is what the encoder writes under each lone-surrogate policy. Inputs are
// exact-size heap copies, so a read past the end is caught. Each input is also
// checked after ASCII runs on both sides of the fast paths' 16-byte blocks.
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

// Runs `convert(text)`, which appends to text, into an outcome.
template <typename Text, typename Convert>
Outcome<Text> outcomeOf(Convert convert) {
  Outcome<Text> outcome;
  try {
    convert(outcome.text);
  } catch (const std::exception& failure) {
    outcome.text.clear();
    outcome.error = describe(failure);
  }
  return outcome;
}

void checkUtf8(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> bytes(new char[size]);
  if (size != 0) std::memcpy(bytes.get(), data, size);
  const char* const begin = bytes.get();
  const auto ours =
      outcomeOf<std::u16string>([&](std::u16string& out) { out = utf8ToWide(begin, size); });
  check(ours == outcomeOf<std::u16string>([&](std::u16string& out) {
          utf8::utf8to16(begin, begin + size, std::back_inserter(out));
        }));
  const std::u16string lenient = ansiToWide(std::string(begin, size));
  if (ours.error.empty()) {
    check(lenient == ours.text && utf8ToWide(std::string(begin, size)) == ours.text);
    check(wideToUtf8(ours.text) == std::string(begin, size));
  }
}

void checkUtf16(const std::uint8_t* data, std::size_t size) {
  const std::size_t units = size / 2;
  std::unique_ptr<char16_t[]> text(new char16_t[units]);
  if (units != 0) std::memcpy(text.get(), data, units * 2);
  const char16_t* const begin = text.get();
  const auto ours =
      outcomeOf<std::string>([&](std::string& out) { out = wideToUtf8(begin, units); });
  check(ours == outcomeOf<std::string>([&](std::string& out) {
          utf8::utf16to8(begin, begin + units, std::back_inserter(out));
        }));
  const auto length = outcomeOf<std::string>(
      [&](std::string& out) { out.resize(utf8Length(begin, units, LoneSurrogate::kThrow)); });
  check(length.error == ours.error && length.text.size() == ours.text.size());
  for (LoneSurrogate policy : {LoneSurrogate::kReplacement, LoneSurrogate::kQuestionMark}) {
    check(utf8Length(begin, units, policy) == wideToUtf8(begin, units, policy).size());
  }
  const std::string lenient = wideToAnsi(std::u16string(begin, units));
  if (ours.error.empty()) {
    check(lenient == ours.text && wideToUtf8(std::u16string(begin, units)) == ours.text);
    check(utf8ToWide(ours.text) == std::u16string(begin, units));
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
