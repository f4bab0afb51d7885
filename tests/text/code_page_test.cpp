#include "text/text_convert.h"

#include <gtest/gtest.h>

#include <string>

// Valid text is compared with the strict conversions by fuzz/utf_convert_fuzzer.cpp.

namespace {

std::string bytesOf(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

TEST(AnsiToWide, DecodesUtf8AndReplacesEachInvalidSequence) {
  const struct {
    const char* name;
    std::string bytes;
    std::u16string expected;
  } cases[] = {
      {"lone continuation", bytesOf({0x41, 0x80, 0x42}), u"A\uFFFDB"},
      {"truncated at end", bytesOf({0x41, 0xC3}), u"A\uFFFD"},
      {"truncated before ascii", bytesOf({0xE2, 0x82, 0x41}), u"\uFFFDA"},
      {"overlong two", bytesOf({0xC0, 0x80}), u"\uFFFD\uFFFD"},
      {"encoded surrogate", bytesOf({0xED, 0xA0, 0x80}), u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", bytesOf({0xF4, 0x90, 0x80, 0x80}), u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead bytes", bytesOf({0xF5, 0xF8, 0xFF}), u"\uFFFD\uFFFD\uFFFD"},
      {"truncated four then valid", bytesOf({0xF0, 0x9F, 0x98, 0xD0, 0x9F}), u"\uFFFD\u041F"},
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
      {"lead before pair", u"\xD800\xD83D\xDE00", bytesOf({'?', 0xF0, 0x9F, 0x98, 0x80})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wideToAnsi(c.text), c.expected) << c.name;
  }
}

}  // namespace
