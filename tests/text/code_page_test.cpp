#include "text/text_convert.h"

#include <gtest/gtest.h>

#include <string>

// Valid text is compared with the strict conversions by fuzz/utf_convert_fuzzer.cpp.

namespace {

TEST(AnsiToWide, DecodesUtf8AndReplacesEachInvalidSequence) {
  const struct {
    const char* name;
    std::string bytes;
    std::u16string expected;
  } cases[] = {
      {"lone continuation", "A\x80\x42", u"A\uFFFDB"},
      {"truncated at end", "A\xC3", u"A\uFFFD"},
      {"truncated before ascii", "\xE2\x82\x41", u"\uFFFDA"},
      {"overlong two", "\xC0\x80", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead bytes", "\xF5\xF8\xFF", u"\uFFFD\uFFFD\uFFFD"},
      {"truncated four then valid", "\xF0\x9F\x98\xD0\x9F", u"\uFFFD\u041F"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ansiToWide(c.bytes), c.expected) << c.name;
  }
}

TEST(WideToAnsi, EncodesUtf8AndWritesUnpairedSurrogatesAsQuestionMarks) {
  const struct {
    const char* name;
    std::u16string text;
    std::string expected;
  } cases[] = {
      {"lone lead", u"a\xD800\x0062", "a?b"},
      {"lone trail", u"\xDC00\x0061", "?a"},
      {"reversed pair", u"\xDE00\xD83D", "??"},
      {"lead before pair", u"\xD800\xD83D\xDE00", "?\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wideToAnsi(c.text), c.expected) << c.name;
  }
}

}  // namespace
