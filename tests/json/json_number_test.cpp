#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "json/json_value.h"
#include "tests/json/json_test_util.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Expected values of the edge rows were computed on the x87 unit with 53-bit precision
// control, following the reader's steps; compared bit for bit, so the sign of zero counts.
TEST(JsonNumber, ReadsDigitByDigitWithTheOriginalsRounding) {
  const std::string zeros315(315, '0'), nines(1000000, '9');
  const std::string smallest = "0." + std::string(323, '0') + "5";
  const std::string largest = "179769313486231" + std::string(294, '0');
  const std::vector<std::pair<std::string, double>> cases = {
      {"-0.0", -0.0},
      {"9007199254740993", 9007199254740992.0},
      {"0.3", 0.30000000000000004},  // the fraction is a sum of d x 0.1^k
      {"12e3", 12000.0},
      {"1e-2", 0.01},
      {"5e0000000000000000000000000000000000002", 500.0},
      {"-1.5e-3", -0x1.89374bc6a7efap-10},
      {"-1e400", -kInfinity},
      {"-1e-400", -0.0},
      {"1" + std::string(400, '0') + "e-400", kInfinity},
      {"0." + std::string(330, '0') + "1e+340", 0.0},
      {"1.7976931348623159e308", 0x1.ffffffffffff9p+1023},
      {"2.2250738585072014e-308", 0x1.0000000000003p-1022},
      // Subnormal results round once at the end, not at every division.
      {"68862931e-320", 0x0.0002073b3e985p-1022},
      {"548169439389E-324", 0x0.00019d52dc7ffp-1022},
      {"4.9e-324", 0x0.0000000000001p-1022},
      {"0." + zeros315 + "123456789", 0x0.00000017d491cp-1022},
      {"0." + std::string(1500, '0') + "9", 0.0},
      {"3." + std::string(1500, '0') + "9", 3.0},
      // Huge exponents give what the original's endless run of steps would.
      {"1e" + nines, kInfinity},
      {"-1e-" + nines, -0.0},
      {"-0.0e" + nines, -0.0},
      {smallest + "e632", kInfinity},
      {largest + "e-633", 0.0},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text.substr(0, 60));
    auto value = parseText(widen(text));
    ASSERT_TRUE(value && value->isNumber());
    EXPECT_EQ(bitsOf(value->asNumber()), bitsOf(expected)) << value->asNumber();
  }
}

}  // namespace
