#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "json/json_value.h"
#include "tests/json/json_test_util.h"

namespace {

struct NumberCase {
  std::string text;
  double expected;  // compared bit for bit, so the sign of zero counts
};

double parseNumber(const std::string& text) {
  auto value = parseText(widen(text));
  if (!value || !value->isNumber()) {
    ADD_FAILURE() << "no number from " << text;
    return std::numeric_limits<double>::quiet_NaN();
  }
  return value->asNumber();
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Expected values of the subnormal and edge rows were computed on the x87 unit itself with
// 53-bit precision control, following the reader's steps.
TEST(JsonNumber, ReadsDigitByDigitWithTheOriginalsRounding) {
  const std::string zeros315(315, '0');
  const std::vector<NumberCase> cases = {
      {"0", 0.0},
      {"-0", -0.0},
      {"-0.0", -0.0},
      {"-0e5", -0.0},
      {"7", 7.0},
      {"4294967295", 4294967295.0},
      {"9007199254740993", 9007199254740992.0},
      // The fraction is the sum of d x 0.1^k, so these end one bit above the nearest double.
      {"0.3", 0.30000000000000004},
      {"0.7", 0.7000000000000001},
      {"0.1", 0.1},
      {"2.50", 2.5},
      {"1E+2", 100.0},
      {"1e+2", 100.0},
      {"12e3", 12000.0},
      {"1e-2", 0.01},
      {"1e0", 1.0},
      {"1e-0", 1.0},
      {"5e0000000000000000000000000000000000002", 500.0},
      {"1e23", 0x1.52d02c7e14af6p+76},
      {"-1.5e-3", -0x1.89374bc6a7efap-10},
      // Beyond the double range.
      {"1e400", kInfinity},
      {"-1e400", -kInfinity},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"1" + std::string(400, '0'), kInfinity},
      {"1" + std::string(400, '0') + "e-400", kInfinity},  // stored as infinity before the run
      {"0." + std::string(330, '0') + "1e+340", 0.0},      // stored as zero before the run
      {"1.7976931348623159e308", 0x1.ffffffffffff9p+1023},  // strtod: infinity
      {"17976931348623157e292", 0x1.ffffffffffff9p+1023},
      {"9.999999999999999e-309", 0x0.730d67819e8d3p-1022},  // strtod: ...8d2
      {"2.2250738585072014e-308", 0x1.0000000000003p-1022},  // strtod: 0x1p-1022
      // Subnormal results: the run of divisions keeps 53 bits below 2^-1022 and rounds once at
      // the end; dividing in plain doubles would round at every step (the comment says how).
      {"1e-320", 0x0.00000000007e8p-1022},
      {"68862931e-320", 0x0.0002073b3e985p-1022},          // plain doubles: ...986
      {"9063735E-327", 0x0.000000000072bp-1022},           // plain doubles: ...72a
      {"548169439389E-324", 0x0.00019d52dc7ffp-1022},      // plain doubles: ...7fe
      {"8532.0000000E-319", 0x0.000000a4b08c3p-1022},      // plain doubles: ...8c2
      {"0.73444629609E-320", 0x0.00000000005cfp-1022},     // plain doubles: ...5ce
      {"4.9e-324", 0x0.0000000000001p-1022},
      {"2.4703282292062328e-324", 0x0.0000000000001p-1022},
      // The fraction sum itself far below the double range, stored once.
      {"0." + zeros315 + "123456789", 0x0.00000017d491cp-1022},  // plain doubles: ...915
      {"0." + zeros315 + "7", 0x0.000000871e3a9p-1022},          // plain doubles: ...3a7
      {"0." + std::string(1500, '0') + "9", 0.0},
      {"3." + std::string(1500, '0') + "9", 3.0},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.text.substr(0, 60));
    const double value = parseNumber(testCase.text);
    EXPECT_EQ(bitsOf(value), bitsOf(testCase.expected)) << value << " vs " << testCase.expected;
  }
}

// The exponent's digits may be arbitrarily many; applying them takes bounded time
// and gives the value the original's endless run of steps would have given.
TEST(JsonNumber, AppliesHugeExponentsQuicklyWithTheSameResult) {
  const std::string nines(1000000, '9');
  // The smallest subnormal and a value near the largest double, as stored before the run.
  const std::string smallest = "0." + std::string(323, '0') + "5";
  const std::string largest = "179769313486231" + std::string(294, '0');
  const std::vector<NumberCase> cases = {
      {"1e" + nines, kInfinity},
      {"1e+" + nines, kInfinity},
      {"-1e" + nines, -kInfinity},
      {"1e-" + nines, 0.0},
      {"-1e-" + nines, -0.0},
      {"0e" + nines, 0.0},
      {"-0.0e" + nines, -0.0},
      {"1e99999999999999999999", kInfinity},
      {"1e-99999999999999999999", 0.0},
      {smallest, 0x0.0000000000001p-1022},
      {smallest + "e+" + nines, kInfinity},
      {smallest + "e632", kInfinity},
      {largest + "e-" + nines, 0.0},
      {largest + "e-633", 0.0},
  };
  const auto start = std::chrono::steady_clock::now();
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.text.substr(0, 24));
    EXPECT_EQ(bitsOf(parseNumber(testCase.text)), bitsOf(testCase.expected));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
