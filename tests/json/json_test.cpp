#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "json/json_value.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// ASCII only: the tables build their inputs from plain narrow literals.
std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string nestedArrays(std::size_t depth) {
  return std::u16string(depth, u'[') + u"0" + std::u16string(depth, u']');
}

TEST(JsonParse, AcceptsAndRejectsDocuments) {
  const std::vector<std::pair<std::u16string, std::u16string>> accepted = {
      {u" \t\r\n{ } \t\r\n", u"{}"},
      {u"[ ]", u"[]"},
      {u"[TrUe,fAlSe,NuLl]", u"[true,false,null]"},  // literals are case-blind
      {u"{\"b\" : [1, 2.50, \"x\\u0041\"], \"a\":null}", u"{\"a\":null,\"b\":[1,2.5,\"xA\"]}"},
      // The last duplicate wins; keys are ordered by code units.
      {u"{\"b\":1,\"a\":{\"x\":\"y\"},\"B\":3,\"\u00E9\":7,\"a\":\"last\"}",
       u"{\"B\":3,\"a\":\"last\",\"b\":1,\"\u00E9\":7}"},
      {u"\"\\u00e9\\u00E9\\uDE00\\uD83D\\u0000\"", u"\"\u00E9\u00E9\\ude00\\ud83d\\u0000\""},
      {std::u16string(u"{}\0garbage", 10), u"{}"},  // the text ends at its first U+0000
      // The root container is level 1; 512 levels parse, 513 fail.
      {nestedArrays(512), nestedArrays(512)},
      {u"{\"a\":" + nestedArrays(511) + u"}", u"{\"a\":" + nestedArrays(511) + u"}"},
  };
  for (const auto& [input, written] : accepted) {
    SCOPED_TRACE(::testing::PrintToString(input.substr(0, 60)));
    auto value = JsonValue::parse(input.c_str());
    EXPECT_EQ(value ? value->stringify() : u"rejected", written);
  }
  // Inputs the failure table below leaves out; it checks rejection too.
  const char16_t* const literals[] = {
      u"",           u"\uFEFF{}", u"\f{}",  u"{}\u00A0",    u"truex",    u"[tru]",
      u"01",         u"+1",       u".5",    u"- 1",         u"[1,]",     u"[1",
      u"{\"a\":1,}", u"{\"a\":1", u"\"abc", u"\"\\U0041\"", u"\"\\u123", u"\"abc\\"};
  std::vector<std::u16string> rejected(std::begin(literals), std::end(literals));
  rejected.insert(rejected.end(), {std::u16string(u"tr\0ue", 5), std::u16string(100000, u'['),
                                   u"{\"a\":" + nestedArrays(512) + u"}"});
  for (const auto& input : rejected) {
    EXPECT_EQ(JsonValue::parse(input.c_str()), nullptr)
        << ::testing::PrintToString(input.substr(0, 60));
  }
}

// A failure names the code unit where the text stopped making sense and why; a large string that
// took the text's memory over does not shift the offset.
TEST(JsonParse, FailuresSayWhereAndWhy) {
  const std::u16string large = u"[\"" + std::u16string(70000, u'a') + u"\",?]";
  const std::tuple<std::u16string, std::size_t, std::string> cases[] = {
      {u"  ", 2, "unexpected end of text"},
      {u"[1] x", 4, "text after the value"},
      {large, 70004, "no value starts with this character"},
      {nestedArrays(513), 512, "nesting deeper than 512 levels"},
      {u"-x", 1, "digit expected"},
      {u"1.e", 2, "digit expected after the decimal point"},
      {u"1e+x", 3, "digit expected in the exponent"},
      {u"\"a\x01\"", 2, "control character in a string"},
      {u"\"\\u12G4\"", 5, "four hex digits expected"},
      {u"\"\\x\"", 2, "no such escape"},
      {u"[1 2]", 3, "',' or ']' expected"},
      {u"{\"a\":1 \"b\"", 7, "',' or '}' expected"},
      {u"{a:1}", 1, "member name expected"},
      {u"{\"a\" 1}", 5, "':' expected"},
  };
  for (const auto& [input, offset, reason] : cases) {
    SCOPED_TRACE(::testing::PrintToString(input.substr(0, 60)));
    JsonParseFailure failure;
    EXPECT_EQ(JsonValue::parse(std::u16string(input), failure), nullptr);
    EXPECT_EQ(failure.offset, offset);
    EXPECT_EQ(failure.reason ? failure.reason : "", reason);
  }
}

// Expected values of the edge rows were computed on the x87 unit with 53-bit precision
// control, following the reader's steps; compared bit for bit, so the sign of zero counts.
TEST(JsonParse, ReadsNumbersDigitByDigitRoundingEveryStepToDouble) {
  const std::string zeros315(315, '0'), nines(1000000, '9');
  const std::string smallest = "0." + std::string(323, '0') + "5";
  const std::string largest = "179769313486231" + std::string(294, '0');
  const std::vector<std::pair<std::string, double>> cases = {
      {"-0.0", -0.0},
      {"9007199254740993", 9007199254740992.0},
      {"0.3", 0.30000000000000004},  // the fraction is a sum of d x 0.1^k
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
      // Huge exponents give what applying every step of ten would: infinity or zero.
      {"1e" + nines, kInfinity},
      {"-1e-" + nines, -0.0},
      {"-0.0e" + nines, -0.0},
      {smallest + "e632", kInfinity},
      {largest + "e-633", 0.0},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text.substr(0, 60));
    auto value = JsonValue::parse(widen(text).c_str());
    ASSERT_TRUE(value && value->isNumber());
    const double number = value->asNumber();
    EXPECT_EQ(0, std::memcmp(&number, &expected, sizeof number)) << number;
  }
}

// The bulk copies of the writer and the parser must stop exactly at each unit
// that needs attention, wherever it falls and however the text is aligned.
TEST(JsonString, EscapesAndReadsBackAtEveryPositionAndAlignment) {
  // The unit, how it is written, whether it may stand unescaped inside a string.
  const std::tuple<std::u16string, std::u16string, bool> specials[] = {
      {u"/", u"\\/", true},
      {u"\"", u"\\\"", false},
      {std::u16string(1, u'\0'), u"\\u0000", false},
      {u"\t", u"\\t", true},
      {u"\n", u"\\n", false},
      {u"\x1F", u"\\u001f", false},
      {u"\xD800\xDC00", u"\xD800\xDC00", true},
      {u"\xDC00", u"\\udc00", true},
      {u"\\", u"\\\\", false},
      {u"\b\f\r\x0B", u"\\b\\f\\r\\u000b", false},
      {u"\x7F\u00E9\uFFFF\xDBFF\xDFFF", u"\x7F\u00E9\uFFFF\xDBFF\xDFFF", true},
      {u"\xDE00\xD83D", u"\\ude00\\ud83d", true},
      {u"\xD83D\xD83D\xDE00\xDE00", u"\\ud83d\xD83D\xDE00\\ude00", true},
  };
  for (std::size_t length = 0; length < 40; ++length) {
    for (std::size_t position = 0; position <= length; ++position) {
      for (const auto& [raw, escaped, rawParses] : specials) {
        std::u16string text(length, u'q'), written(length, u'q');
        text.insert(position, raw);
        written.insert(position, escaped);
        written = u"\"" + written + u"\"";
        ASSERT_EQ(JsonValue::stringifyString(text), written) << length << ' ' << position;
        for (std::size_t lead = 0; lead < 8; ++lead) {
          const std::u16string indent(lead, u' ');
          auto back = JsonValue::parse((indent + written).c_str());
          ASSERT_TRUE(back && back->asString() == text) << lead << ' ' << length << ' ' << position;
          auto raw = JsonValue::parse((indent + u"\"" + text + u"\"").c_str());
          ASSERT_EQ(raw && raw->asString() == text, rawParses) << lead << ' ' << position;
        }
      }
    }
  }
}

TEST(JsonWrite, WritesNumbersWithFifteenSignificantDigits) {
  const std::vector<std::pair<double, const char*>> cases = {
      {-0.0, "-0"},
      {0.1 + 0.2, "0.3"},
      {1.9999999999999998, "2"},  // the carry stops at the first digit
      {2.0 / 3.0, "0.666666666666667"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1e+015"},
      {999999999999999.5, "1e+015"},  // the carry bumps the exponent into exponent form
      {1234567890123456.0, "1.23456789012346e+015"},
      {12345678901234.5, "12345678901234.5"},
      {0.0001, "0.0001"},
      {0.00001, "1e-005"},
      {-2.5e-7, "-2.5e-007"},
      {1e100, "1e+100"},
      {DBL_MAX, "1.79769313486232e+308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247e-324"},
      {0.000099999999999999999, "0.0001"},
      {-kInfinity, "null"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(JsonValue(value).stringify(), widen(text)) << text;
  }
}

// Member names are written as strings are; stringifyTo appends.
TEST(JsonWrite, EscapesMemberNamesAndAppends) {
  JsonObject members;
  members[u"\"/\\\b\xDE00"] = std::make_unique<JsonValue>();
  EXPECT_EQ(JsonValue(std::move(members)).stringify(), u"{\"\\\"\\/\\\\\\b\\ude00\":null}");
  std::u16string out = u"prefix:";
  JsonValue::parse(u"{\"z\":[false],\"a\":{}}")->stringifyTo(out);
  EXPECT_EQ(out, u"prefix:{\"a\":{},\"z\":[false]}");
}

// Copies are deep, also from their own subtree; empty slots of handed-over tables read as null.
TEST(JsonValue, CopiesDeeplyAndWritesEmptySlotsAsNull) {
  const std::u16string written = u"[{\"a\":[1,\"x\"]},{\"e\":\"\\u0000\\ud800\"},2.5]";
  auto source = JsonValue::parse(written.c_str());
  ASSERT_NE(source, nullptr);
  auto copy = std::make_unique<JsonValue>(*source);
  source.reset();
  EXPECT_EQ(copy->stringify(), written);
  JsonValue target;
  target = *copy;
  target = *target.asArray()[0];
  EXPECT_EQ(target.stringify(), u"{\"a\":[1,\"x\"]}");

  JsonArray elements(1);
  JsonObject members;
  members[u"empty"] = nullptr;
  members[u"array"] = std::make_unique<JsonValue>(std::move(elements));
  JsonValue value(std::move(members));
  EXPECT_EQ(value.child(u"empty"), nullptr);
  EXPECT_EQ(JsonValue(value).stringify(), u"{\"array\":[null],\"empty\":null}");
}

}  // namespace
