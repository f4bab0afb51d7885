#include "text/text_convert.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

// Valid text is compared with the strict conversions by fuzz/utf_convert_fuzzer.cpp.

namespace {

TEST(AnsiToWide, DecodesUtf8AndReplacesEachInvalidSequence) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"A\x80\x42", u"A\uFFFDB"},                         // lone continuation
      {"A\xC3", u"A\uFFFD"},                              // truncated at the end
      {"\xE2\x82\x41", u"\uFFFDA"},                       // truncated before ASCII
      {"\xC0\x80", u"\uFFFD\uFFFD"},                      // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF5\xF8\xFF", u"\uFFFD\uFFFD\uFFFD"},            // invalid lead bytes
      {"\xF0\x9F\x98\xD0\x9F", u"\uFFFD\u041F"},          // truncated four, then valid
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(ansiToWide(bytes), expected) << ::testing::PrintToString(bytes);
  }
}

TEST(WideToAnsi, EncodesUtf8AndWritesUnpairedSurrogatesAsQuestionMarks) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"a\xD800\x0062", "a?b"},                     // lone lead
      {u"\xDC00\x0061", "?a"},                       // lone trail
      {u"\xDE00\xD83D", "??"},                       // reversed pair
      {u"\xD800\xD83D\xDE00", "?\xF0\x9F\x98\x80"},  // lead before a pair
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(wideToAnsi(text), expected) << ::testing::PrintToString(text);
  }
}

}  // namespace
