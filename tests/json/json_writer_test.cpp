#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "json/json_value.h"
#include "tests/json/json_test_util.h"

namespace {

struct NumberTextCase {
  double value;
  const char* text;
};

TEST(JsonWrite, WritesNumbersWithFifteenSignificantDigits) {
  const std::vector<NumberTextCase> cases = {
      {0.0, "0"},
      {-0.0, "-0"},
      {1.0, "1"},
      {-1.0, "-1"},
      {-1.5, "-1.5"},
      {0.1, "0.1"},
      {0.30000000000000004, "0.3"},
      {0.1 + 0.2, "0.3"},
      {0.7000000000000001, "0.7"},
      {1.9999999999999998, "2"},  // the carry stops at the first digit
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {4294967295.0, "4294967295"},
      {123456789012345.0, "123456789012345"},
      {999999999999999.0, "999999999999999"},
      {1e14, "100000000000000"},
      {1e15, "1e+015"},
      {-1e15, "-1e+015"},
      {1234567890123456.0, "1.23456789012346e+015"},
      {1000000000000005.0, "1.00000000000001e+015"},
      {999999999999999.5, "1e+015"},  // the carry bumps the exponent into exponent form
      {99999.99999999999, "100000"},
      {12345678901234.5, "12345678901234.5"},
      {123456.789, "123456.789"},
      {9007199254740992.0, "9.00719925474099e+015"},
      {-9223372036854775808.0, "-9.22337203685478e+018"},
      {0.0001, "0.0001"},
      {0.00012345, "0.00012345"},
      {0.00001, "1e-005"},
      {-0.00001, "-1e-005"},
      {2.5e-7, "2.5e-007"},
      {1.5e-10, "1.5e-010"},
      {1e100, "1e+100"},
      {1e308, "1e+308"},
      {DBL_MAX, "1.79769313486232e+308"},
      {DBL_MIN, "2.2250738585072e-308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247e-324"},
      {0.5, "0.5"},
      {100.0, "100"},
      {1e21, "1e+021"},
      {123e18, "1.23e+020"},
      {0.000099999999999999999, "0.0001"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.text);
    EXPECT_EQ(JsonValue(testCase.value).stringify(), widen(testCase.text));
  }
}

struct StringTextCase {
  std::u16string text;
  std::u16string written;
};

TEST(JsonWrite, EscapesQuotesSlashesAndControlUnits) {
  const std::vector<StringTextCase> cases = {
      {u"", u"\"\""},
      {u"plain text", u"\"plain text\""},
      {u"a/b", u"\"a\\/b\""},
      {u"say \"hi\" \\ bye", u"\"say \\\"hi\\\" \\\\ bye\""},
      {u"\b\f\n\r\t", u"\"\\b\\f\\n\\r\\t\""},
      // The other control units as \u00xx, lower-case hex.
      {std::u16string(1, u'\0'), u"\"\\u0000\""},
      {u"\u0001\u000B\u001A\u001F", u"\"\\u0001\\u000b\\u001a\\u001f\""},
      // Everything else unchanged, a valid surrogate pair included.
      {u" \u007F\u00E9\u4E2D\uFFFF", u"\" \u007F\u00E9\u4E2D\uFFFF\""},
      {u"\xD83D\xDE00", u"\"\xD83D\xDE00\""},
      {u"\xDBFF\xDFFF", u"\"\xDBFF\xDFFF\""},
      // Unpaired surrogates as \uxxxx, lower-case hex.
      {u"\xD83D", u"\"\\ud83d\""},
      {u"\xDE00", u"\"\\ude00\""},
      {u"a\xD83D"
       u"b",
       u"\"a\\ud83db\""},
      {u"\xDE00\xD83D", u"\"\\ude00\\ud83d\""},
      {u"\xD83D\xD83D\xDE00", u"\"\\ud83d\xD83D\xDE00\""},
      {u"\xD83D\xDE00\xDE00", u"\"\xD83D\xDE00\\ude00\""},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(::testing::PrintToString(testCase.text));
    EXPECT_EQ(JsonValue::stringifyString(testCase.text), testCase.written);
    EXPECT_EQ(JsonValue(testCase.text).stringify(), testCase.written);
    JsonObject members;
    members[testCase.text] = std::make_unique<JsonValue>();
    EXPECT_EQ(JsonValue(std::move(members)).stringify(), u"{" + testCase.written + u":null}");
  }
}

// The bulk copy must stop exactly at each unit that needs attention, wherever it falls.
TEST(JsonWrite, EscapesAtEveryPositionOfLongStrings) {
  const std::u16string specials[] = {
      u"/", u"\"", std::u16string(1, u'\0'), u"\xD800", u"\xD800\xDC00", u"\xDC00", u"\x1F"};
  const std::u16string written[] = {u"\\/",          u"\\\"",    u"\\u0000", u"\\ud800",
                                    u"\xD800\xDC00", u"\\udc00", u"\\u001f"};
  for (std::size_t length = 0; length < 40; ++length) {
    for (std::size_t position = 0; position <= length; ++position) {
      for (std::size_t s = 0; s < std::size(specials); ++s) {
        std::u16string text(length, u'q');
        std::u16string expected = text;
        text.insert(position, specials[s]);
        expected.insert(position, written[s]);
        ASSERT_EQ(JsonValue::stringifyString(text), u"\"" + expected + u"\"")
            << length << ' ' << position << ' ' << s;
      }
    }
  }
}

TEST(JsonWrite, WritesContainersCompactlyInKeyOrder) {
  auto value = parseText(u"{\"b\" : [1, 2.50, \"x\\u0041\"], \"a\":null}");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->stringify(), u"{\"a\":null,\"b\":[1,2.5,\"xA\"]}");
  EXPECT_EQ(JsonValue(JsonObject()).stringify(), u"{}");
  EXPECT_EQ(JsonValue(JsonArray()).stringify(), u"[]");
  EXPECT_EQ(JsonValue().stringify(), u"null");
  EXPECT_EQ(JsonValue(true).stringify(), u"true");
  EXPECT_EQ(JsonValue(false).stringify(), u"false");
}

TEST(JsonWrite, WritesTheSameTextTwiceAndAppendsWhenAsked) {
  auto value = parseText(u"{\"z\":[{\"y\":\"a/b\"},-0.5e-10],\"a\":{}}");
  ASSERT_NE(value, nullptr);
  const std::u16string first = value->stringify();
  EXPECT_EQ(first, u"{\"a\":{},\"z\":[{\"y\":\"a\\/b\"},-5e-011]}");
  EXPECT_EQ(value->stringify(), first);
  std::u16string out = u"prefix:";
  value->stringifyTo(out);
  EXPECT_EQ(out, u"prefix:" + first);
}

}  // namespace
