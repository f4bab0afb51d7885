#include "text/text_convert.h"

#include <gtest/gtest.h>
#include <utf8cpp/utf8.h>

#include <string>

// The UTF-8 and UTF-16 conversions are compared with utfcpp by
// fuzz/utf_convert_fuzzer.cpp over its corpus in every test build.
namespace {

TEST(Utf8Length, CountsExactlyWhatTheEncoderWrites) {
  const std::u16string texts[] = {u"",
                                  u"a\u00e9\u0416\u20ac",
                                  u"\U0001F600",
                                  u"a\xd800"
                                  u"b",
                                  u"\xdc00\xd800",
                                  std::u16string(40, u'\xd800') + u"\u0416\U0001F600"};
  for (const auto& text : texts) {
    for (LoneSurrogate policy : {LoneSurrogate::kReplacement, LoneSurrogate::kQuestionMark}) {
      EXPECT_EQ(utf8Length(text, policy), wideToUtf8(text, policy).size());
    }
  }
  EXPECT_EQ(wideToUtf8(u"a\xd800"
                       u"b",
                       LoneSurrogate::kReplacement),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(utf8Length(u"\U0001F600", LoneSurrogate::kThrow), 4u);
  EXPECT_THROW(utf8Length(u"a\xd800", LoneSurrogate::kThrow), utf8::invalid_utf16);
}

}  // namespace
