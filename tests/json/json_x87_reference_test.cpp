#include <gtest/gtest.h>

#include <random>
#include <string>

#include "json/json_value.h"
#include "tests/json/json_test_util.h"

// The original number reader ran on the x87 unit with 53-bit precision control. Where such a unit
// exists (x86 with glibc's control-word macros), this test runs the number reader's algorithm on it and
// compares the parser's reading bit for bit on random numbers, including long fractions, fraction
// sums below the double range and exponent runs that pass through the subnormals.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GLIBC__)
#include <fpu_control.h>
#define QUORVANT_HAVE_X87_REFERENCE 1
#endif

namespace {

#ifdef QUORVANT_HAVE_X87_REFERENCE

bool isDigit(char unit) { return unit >= '0' && unit <= '9'; }

// Restores the caller's control word on every path.
class X87DoublePrecision {
 public:
  X87DoublePrecision() {
    _FPU_GETCW(saved_);
    fpu_control_t word = (saved_ & ~_FPU_EXTENDED) | _FPU_DOUBLE;
    _FPU_SETCW(word);
  }
  ~X87DoublePrecision() { _FPU_SETCW(saved_); }
  X87DoublePrecision(const X87DoublePrecision&) = delete;
  X87DoublePrecision& operator=(const X87DoublePrecision&) = delete;

 private:
  fpu_control_t saved_ = 0;
};

// The reader's steps as the original took them, every step on the x87 stack (long double with 53-bit precision and the
// wide exponent), stored to double where the original stored. Exponents stay small enough to count.
double x87Reading(const char* text) {
  X87DoublePrecision precision;
  const bool negative = *text == '-';
  if (negative) ++text;
  volatile long double integer = 0;
  while (isDigit(*text)) integer = integer * 10 + static_cast<long double>(*text++ - '0');
  volatile double value = static_cast<double>(integer);
  if (*text == '.') {
    ++text;
    volatile long double sum = 0;
    volatile long double weight = static_cast<long double>(0.1);
    while (isDigit(*text)) {
      sum = sum + static_cast<long double>(*text++ - '0') * weight;
      weight = weight * static_cast<long double>(0.1);
    }
    volatile long double total = static_cast<long double>(value) + sum;
    value = static_cast<double>(total);
  }
  if (*text == 'e' || *text == 'E') {
    ++text;
    const bool divide = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long steps = 0;
    while (isDigit(*text)) steps = steps * 10 + (*text++ - '0');
    volatile long double scaled = value;
    for (long i = 0; i < steps; ++i) scaled = divide ? scaled / 10 : scaled * 10;
    value = static_cast<double>(scaled);
  }
  return negative ? value * -1.0 : value;
}

std::string randomDigits(std::mt19937_64& random, std::size_t count, bool nonzeroFirst) {
  std::string digits;
  for (std::size_t i = 0; i < count; ++i) {
    const int low = (i == 0 && nonzeroFirst) ? 1 : 0;
    digits += static_cast<char>('0' + low + static_cast<int>(random() % (10 - low)));
  }
  return digits;
}

std::string randomNumber(std::mt19937_64& random) {
  std::string text = random() % 4 == 0 ? "-" : "";
  const std::size_t integerDigits = random() % 3 == 0 ? 0 : 1 + random() % (random() % 5 ? 20 : 330);
  text += integerDigits == 0 ? "0" : randomDigits(random, integerDigits, true);
  if (random() % 2) {
    const std::size_t leadingZeros = random() % 3 == 0 ? random() % 1400 : 0;
    const std::size_t digits = 1 + random() % (random() % 5 ? 25 : 600);
    text += "." + std::string(leadingZeros, '0') + randomDigits(random, digits, false);
  }
  if (random() % 2) {
    text += random() % 2 ? "e" : "E";
    const int sign = static_cast<int>(random() % 3);
    text += sign == 1 ? "-" : sign == 2 ? "+" : "";
    text += std::to_string(random() % (random() % 3 ? 340 : 900));
  }
  return text;
}

TEST(JsonNumberX87Reference, ReadsRandomNumbersBitForBitAsTheX87Did) {
  std::mt19937_64 random(20240607);
  for (int i = 0; i < 20000; ++i) {
    const std::string text = randomNumber(random);
    auto value = parseText(widen(text));
    ASSERT_NE(value, nullptr) << text;
    ASSERT_EQ(bitsOf(value->asNumber()), bitsOf(x87Reading(text.c_str()))) << text;
  }
}

#else

TEST(JsonNumberX87Reference, ReadsRandomNumbersBitForBitAsTheX87Did) {
  GTEST_SKIP() << "no x87 unit with glibc's control-word macros on this platform";
}

#endif

}  // namespace
