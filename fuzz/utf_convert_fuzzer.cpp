// The UTF-8/UTF-16 conversions give what utfcpp gives (text, or exception and message) and convert
// back; the lenient code-page ones agree on valid text; each lone-surrogate policy's UTF-8 length
// is what it writes. Exact-size copies catch over-reads; ASCII runs move it across 16-byte blocks.
#include <utf8.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "fuzz/check.h"
#include "text/text_convert.h"

namespace {

// What `convert()` gives: its text's bytes, or the exception's type and message.
template <typename Convert>
std::string outcomeOf(Convert convert) {
  try {
    const auto text = convert();
    return "text:" +
           std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof text[0]);
  } catch (const std::exception& failure) {
    return std::string("error:") + typeid(failure).name() + ": " + failure.what();
  }
}

void checkUtf8(const std::uint8_t* data, std::size_t size) {
  const std::vector<char> bytes(data, data + size);
  const char* const begin = bytes.data();
  const std::string text(begin, size);
  const std::string ours = outcomeOf([&] { return utf8ToWide(begin, size); });
  check(ours == outcomeOf([&] {
          std::u16string out;
          utf8::utf8to16(begin, begin + size, std::back_inserter(out));
          return out;
        }));
  const std::u16string lenient = ansiToWide(text);
  if (ours.rfind("text:", 0) == 0) {
    check(lenient == utf8ToWide(text) && utf8ToWide(text) == utf8ToWide(begin, size));
    check(wideToUtf8(lenient) == text);
  }
}

void checkUtf16(const std::uint8_t* data, std::size_t size) {
  const std::size_t units = size / 2;
  std::unique_ptr<char16_t[]> copy(new char16_t[units]);
  if (units != 0) std::memcpy(copy.get(), data, units * 2);
  const char16_t* const begin = copy.get();
  const std::u16string text(begin, units);
  const std::string ours = outcomeOf([&] { return wideToUtf8(begin, units); });
  check(ours == outcomeOf([&] {
          std::string out;
          utf8::utf16to8(begin, begin + units, std::back_inserter(out));
          return out;
        }));
  for (LoneSurrogate policy :
       {LoneSurrogate::kThrow, LoneSurrogate::kReplacement, LoneSurrogate::kQuestionMark}) {
    check(outcomeOf([&] { return std::to_string(utf8Length(begin, units, policy)); }) ==
          outcomeOf([&] { return std::to_string(wideToUtf8(begin, units, policy).size()); }));
  }
  const std::string lenient = wideToAnsi(text);
  if (ours.rfind("text:", 0) == 0) {
    check(lenient == wideToUtf8(text) && wideToUtf8(text) == wideToUtf8(begin, units));
    check(utf8ToWide(lenient) == text);
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
