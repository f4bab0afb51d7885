// JsonValue::parse under arbitrary text: it never fails other than by
// returning nullptr, parsing a text it may consume gives the same result (large
// strings take the text's memory over), and whatever parses serializes to text
// that parses again to an equal tree. Equal means same kinds, keys and strings; numbers agree to
// the 15 significant digits the serializer writes, a non-finite number comes
// back as null, and a finite one that rounds up past the largest double comes
// back as infinity.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "json/json_value.h"
#include "text/text_convert.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// The largest double written with 15 significant digits reads back as infinity.
constexpr double kOverflowsWhenRounded = 1.797693134862315e308;

bool sameNumber(double before, const JsonValue& after) {
  if (!std::isfinite(before)) return after.isNull();
  if (!after.isNumber()) return false;
  const double value = after.asNumber();
  if (std::isinf(value)) {
    return std::fabs(before) >= kOverflowsWhenRounded &&
           std::signbit(before) == std::signbit(value);
  }
  if (before == value) return true;
  const double scale = std::fmax(std::fabs(before), std::fabs(value));
  // Fifteen digits keep the value to half a unit in the 15th place; subnormals
  // carry fewer bits, so allow one unit of their spacing too.
  return std::fabs(before - value) <= scale * 1e-14 + std::numeric_limits<double>::denorm_min();
}

// Null, Bool and String values are equal when their texts are.
bool sameTree(const JsonValue& before, const JsonValue& after) {
  if (before.isNumber()) return sameNumber(before.asNumber(), after);
  if (before.type() != after.type()) return false;
  if (before.isArray()) {
    const JsonArray &left = before.asArray(), &right = after.asArray();
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](const auto& l, const auto& r) { return sameTree(*l, *r); });
  }
  if (before.isObject()) {
    const JsonObject &left = before.asObject(), &right = after.asObject();
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](const auto& l, const auto& r) {
             return l.first == r.first && sameTree(*l.second, *r.second);
           });
  }
  return before.stringify() == after.stringify();
}

// Valid UTF-8 is read as the host reads a frame; anything else byte by byte,
// so the parser also meets units the host would have refused earlier.
std::u16string textOf(const std::uint8_t* data, std::size_t size) {
  try {
    return utf8ToWide(reinterpret_cast<const char*>(data), size);
  } catch (const std::exception&) {
    return std::u16string(data, data + size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = textOf(data, size);
  // An exact-size heap copy with its terminator, as the parser expects.
  std::unique_ptr<char16_t[]> input(new char16_t[text.size() + 1]);
  std::memcpy(input.get(), text.data(), text.size() * sizeof(char16_t));
  input[text.size()] = u'\0';
  std::unique_ptr<JsonValue> tree = JsonValue::parse(input.get());
  std::u16string consumable = text;
  const std::unique_ptr<JsonValue> consumed = JsonValue::parse(std::move(consumable));
  check((consumed == nullptr) == (tree == nullptr) && consumable.empty());
  if (!tree) return 0;
  const std::u16string written = tree->stringify();
  check(consumed->stringify() == written);
  std::unique_ptr<JsonValue> again = JsonValue::parse(written.c_str());
  check(again != nullptr);
  check(sameTree(*tree, *again));
  // Serializing only reads the tree.
  check(tree->stringify() == written);
  return 0;
}
