// JsonValue::parse under arbitrary text fails only by returning nullptr; the parse that consumes
// its text gives the same tree; what parses is written as text parsing to an equal tree (numbers to
// 15 digits, non-finite ones as null, ones rounding past the largest double as infinity).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "json/json_value.h"
#include "text/text_convert.h"

namespace {

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
  // Half a unit in the 15th digit, and one spacing of subnormals, which carry fewer bits.
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

// Valid UTF-8 as the host reads a frame, else byte by byte: units the host would refuse too.
std::u16string textOf(const std::uint8_t* data, std::size_t size) {
  try {
    return utf8ToWide(reinterpret_cast<const char*>(data), size);
  } catch (const std::exception&) {
    return std::u16string(data, data + size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text = textOf(data, size);
  // Each "QQ" stands for 35,000 'Q's: small inputs reach the strings that take the text over.
  for (std::size_t at = 0; (at = text.find(u"QQ", at)) != std::u16string::npos; at += 35000) {
    text.replace(at, 2, 35000, u'Q');
  }
  // An exact-size heap copy with its terminator, as the parser expects.
  const std::vector<char16_t> input(text.c_str(), text.c_str() + text.size() + 1);
  std::unique_ptr<JsonValue> tree = JsonValue::parse(input.data());
  std::u16string consumable = text;
  const std::unique_ptr<JsonValue> consumed = JsonValue::parse(std::move(consumable));
  check((consumed == nullptr) == (tree == nullptr) && consumable.empty());
  if (!tree) return 0;
  const std::u16string written = tree->stringify();
  check(consumed->stringify() == written);
  std::unique_ptr<JsonValue> again = JsonValue::parse(written.c_str());
  check(again != nullptr);
  check(sameTree(*tree, *again));
  return 0;
}
