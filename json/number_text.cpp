#include "json/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kSignificantDigits = 15;
constexpr int kConvertedDigits = 17;

// Integers with at most 15 digits are their own text: no rounding, no exponent form.
constexpr double kPlainIntegerLimit = 1e15;

struct DecimalDigits {
  char digits[kConvertedDigits];  // '0' to '9', most significant first
  int count;                      // significant digits kept, trailing zeros removed
  int exponent;                   // decimal exponent of digits[0]
};

char16_t* writeAscii(const char* first, const char* last, char16_t* out) {
  while (first != last) {
    *out++ = static_cast<char16_t>(*first++);
  }
  return out;
}

// 17 significant digits, then cut to 15 rounding half up on the 16th (a carry out of the first
// digit bumps the exponent), then trailing zeros dropped. value is finite and positive.
DecimalDigits roundToSignificantDigits(double value) {
  char text[32];  // d.dddddddddddddddde-ddd
  const auto converted = std::to_chars(text, text + sizeof text, value,
                                       std::chars_format::scientific, kConvertedDigits - 1);
  DecimalDigits result{};
  result.digits[0] = text[0];
  for (int i = 1; i < kConvertedDigits; ++i) {
    result.digits[i] = text[i + 1];
  }
  const char* exponentText = text + kConvertedDigits + 2;  // past the 'e'
  const bool negativeExponent = *exponentText == '-';
  std::from_chars(exponentText + 1, converted.ptr, result.exponent);
  if (negativeExponent) {
    result.exponent = -result.exponent;
  }
  if (result.digits[kSignificantDigits] >= '5') {
    int i = kSignificantDigits - 1;
    while (i >= 0 && result.digits[i] == '9') {
      result.digits[i--] = '0';
    }
    if (i < 0) {
      result.digits[0] = '1';
      ++result.exponent;
    } else {
      ++result.digits[i];
    }
  }
  result.count = kSignificantDigits;
  while (result.count > 1 && result.digits[result.count - 1] == '0') {
    --result.count;
  }
  return result;
}

char16_t* writeExponentForm(const DecimalDigits& decimal, char16_t* out) {
  *out++ = static_cast<char16_t>(decimal.digits[0]);
  if (decimal.count > 1) {
    *out++ = u'.';
    out = writeAscii(decimal.digits + 1, decimal.digits + decimal.count, out);
  }
  *out++ = u'e';
  *out++ = decimal.exponent < 0 ? u'-' : u'+';
  const int magnitude = std::abs(decimal.exponent);  // at most 324: three digits
  *out++ = static_cast<char16_t>(u'0' + magnitude / 100);
  *out++ = static_cast<char16_t>(u'0' + magnitude / 10 % 10);
  *out++ = static_cast<char16_t>(u'0' + magnitude % 10);
  return out;
}

char16_t* writePositionalForm(const DecimalDigits& decimal, char16_t* out) {
  if (decimal.exponent < 0) {
    *out++ = u'0';
    *out++ = u'.';
    for (int i = decimal.exponent + 1; i < 0; ++i) {
      *out++ = u'0';
    }
    return writeAscii(decimal.digits, decimal.digits + decimal.count, out);
  }
  for (int i = 0; i <= decimal.exponent; ++i) {
    *out++ = static_cast<char16_t>(i < decimal.count ? decimal.digits[i] : '0');
  }
  if (decimal.count > decimal.exponent + 1) {
    *out++ = u'.';
    out = writeAscii(decimal.digits + decimal.exponent + 1, decimal.digits + decimal.count, out);
  }
  return out;
}

}  // namespace

std::size_t formatNumber(double value, char16_t* out) {
  char16_t* const start = out;
  if (std::signbit(value)) {
    *out++ = u'-';  // negative zero included
    value = -value;
  }
  if (value < kPlainIntegerLimit && value == std::floor(value)) {
    char text[16];
    const auto converted =
        std::to_chars(text, text + sizeof text, static_cast<std::uint64_t>(value));
    return static_cast<std::size_t>(writeAscii(text, converted.ptr, out) - start);
  }
  const DecimalDigits decimal = roundToSignificantDigits(value);
  if (decimal.exponent < -4 || decimal.exponent >= kSignificantDigits) {
    out = writeExponentForm(decimal, out);
  } else {
    out = writePositionalForm(decimal, out);
  }
  return static_cast<std::size_t>(out - start);
}
