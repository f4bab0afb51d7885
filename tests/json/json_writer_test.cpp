#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "json/json_value.h"
#include "tests/json/json_test_util.h"

namespace {

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
      {-std::numeric_limits<double>::infinity(), "null"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(JsonValue(value).stringify(), widen(text)) << text;
  }
}

TEST(JsonWrite, EscapesQuotesSlashesControlUnitsAndUnpairedSurrogates) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"a/b \"hi\" \\", u"\"a\\/b \\\"hi\\\" \\\\\""},
      {u"\b\f\n\r\t", u"\"\\b\\f\\n\\r\\t\""},
      {std::u16string(1, u'\0') + u"\u000B\u001F", u"\"\\u0000\\u000b\\u001f\""},
      {u" \u007F\u00E9\uFFFF\xDBFF\xDFFF", u"\" \u007F\u00E9\uFFFF\xDBFF\xDFFF\""},
      {u"\xDE00\xD83D", u"\"\\ude00\\ud83d\""},
      {u"\xD83D\xD83D\xDE00\xDE00", u"\"\\ud83d\xD83D\xDE00\\ude00\""},
  };
  for (const auto& [text, written] : cases) {
    SCOPED_TRACE(::testing::PrintToString(text));
    EXPECT_EQ(JsonValue(text).stringify(), written);
    JsonObject members;
    members[text] = std::make_unique<JsonValue>();
    EXPECT_EQ(JsonValue(std::move(members)).stringify(), u"{" + written + u":null}");
  }
}

// The bulk copy must stop exactly at each unit that needs attention, wherever it falls.
TEST(JsonWrite, EscapesAtEveryPositionOfLongStrings) {
  const std::u16string specials[] = {u"/", std::u16string(1, u'\0'), u"\xD800\xDC00", u"\xDC00",
                                     u"\x1F"};
  const std::u16string written[] = {u"\\/", u"\\u0000", u"\xD800\xDC00", u"\\udc00", u"\\u001f"};
  for (std::size_t length = 0; length < 40; ++length) {
    for (std::size_t position = 0; position <= length; ++position) {
      for (std::size_t s = 0; s < std::size(specials); ++s) {
        std::u16string text(length, u'q'), expected(length, u'q');
        text.insert(position, specials[s]);
        expected.insert(position, written[s]);
        ASSERT_EQ(JsonValue::stringifyString(text), u"\"" + expected + u"\"")
            << length << ' ' << position << ' ' << s;
      }
    }
  }
}

TEST(JsonWrite, AppendsWhenAsked) {
  std::u16string out = u"prefix:";
  parseText(u"{\"z\":[false],\"a\":{}}")->stringifyTo(out);
  EXPECT_EQ(out, u"prefix:{\"a\":{},\"z\":[false]}");
}

}  // namespace
