#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "json/json_value.h"

// Helpers shared by the JSON tests.

// Parses text up to its first U+0000 (the parser's own rule) and owns the result.
inline std::unique_ptr<JsonValue> parseText(const std::u16string& text) {
  return JsonValue::parse(text.c_str());
}

// The compact text of the parsed value, or nullopt when the parse fails.
inline std::optional<std::u16string> parsedAndWritten(const std::u16string& text) {
  auto value = parseText(text);
  if (!value) {
    return std::nullopt;
  }
  return value->stringify();
}

inline std::uint64_t bitsOf(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// ASCII only: the tests build their inputs from plain narrow literals.
inline std::u16string widen(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}
