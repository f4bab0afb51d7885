#include "text/text_convert.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytesOf(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

struct AnsiToWideCase {
  const char* name;
  std::string bytes;
  std::u16string expected;
};

TEST(AnsiToWide, DecodesUtf8AndReplacesEachInvalidSequence) {
  const AnsiToWideCase cases[] = {
      {"empty", "", u""},
      {"ascii path", "/tmp/vorna_data_signed/", u"/tmp/vorna_data_signed/"},
      {"embedded zeros", std::string("a\0b\0", 4), std::u16string(u"a\0b\0", 4)},
      {"cyrillic", bytesOf({0xD0, 0x9F, 0xD1, 0x80}), u"\u041F\u0440"},
      {"three bytes", bytesOf({0xE2, 0x82, 0xAC}), u"\u20AC"},
      {"supplementary", bytesOf({0xF0, 0x9F, 0x98, 0x80}), u"\xD83D\xDE00"},
      {"last character", bytesOf({0xF4, 0x8F, 0xBF, 0xBF}), u"\xDBFF\xDFFF"},
      {"last encoded surrogate", bytesOf({0xED, 0xBF, 0xBF}), u"\uFFFD\uFFFD\uFFFD"},
      {"lone continuation", bytesOf({0x41, 0x80, 0x42}), u"A\uFFFDB"},
      {"two continuations", bytesOf({0x80, 0xBF}), u"\uFFFD\uFFFD"},
      {"truncated at end", bytesOf({0x41, 0xC3}), u"A\uFFFD"},
      {"truncated three", bytesOf({0xE2, 0x82}), u"\uFFFD"},
      {"truncated before ascii", bytesOf({0xE2, 0x82, 0x41}), u"\uFFFDA"},
      {"overlong two", bytesOf({0xC0, 0x80}), u"\uFFFD\uFFFD"},
      {"overlong three", bytesOf({0xE0, 0x80, 0xAF}), u"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", bytesOf({0xED, 0xA0, 0x80}), u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", bytesOf({0xF4, 0x90, 0x80, 0x80}), u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead bytes", bytesOf({0xF5, 0xF8, 0xFF}), u"\uFFFD\uFFFD\uFFFD"},
      {"truncated four then valid", bytesOf({0xF0, 0x9F, 0x98, 0xD0, 0x9F}), u"\uFFFD\u041F"},
      {"latin-1 byte", bytesOf({0x63, 0x61, 0x66, 0xE9}), u"caf\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ansiToWide(c.bytes), c.expected) << c.name;
  }
}

struct WideToAnsiCase {
  const char* name;
  std::u16string text;
  std::string expected;
};

TEST(WideToAnsi, EncodesUtf8AndWritesUnpairedSurrogatesAsQuestionMarks) {
  const WideToAnsiCase cases[] = {
      {"empty", u"", ""},
      {"ascii path", u"C:/data/file.bin", "C:/data/file.bin"},
      {"embedded zeros", std::u16string(u"\0a\0", 3), std::string("\0a\0", 3)},
      {"cyrillic", u"\u041F\u0440", bytesOf({0xD0, 0x9F, 0xD1, 0x80})},
      {"three bytes", u"\u20AC\uFFFF", bytesOf({0xE2, 0x82, 0xAC, 0xEF, 0xBF, 0xBF})},
      {"pair", u"\xD83D\xDE00", bytesOf({0xF0, 0x9F, 0x98, 0x80})},
      {"last pair", u"\xDBFF\xDFFF", bytesOf({0xF4, 0x8F, 0xBF, 0xBF})},
      {"lone lead", u"a\xD800\x0062", "a?b"},
      {"lone lead at end", u"a\xDBFF", "a?"},
      {"lone trail", u"\xDC00\x0061", "?a"},
      {"reversed pair", u"\xDE00\xD83D", "??"},
      {"lead before pair", u"\xD800\xD83D\xDE00", bytesOf({'?', 0xF0, 0x9F, 0x98, 0x80})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wideToAnsi(c.text), c.expected) << c.name;
  }
}

TEST(CodePage, RoundTripsEveryValidCharacter) {
  std::u16string all;
  for (char32_t cp = 0; cp <= 0x10FFFF; cp += (cp < 0x10000 ? 1 : 97)) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp < 0x10000) {
      all.push_back(static_cast<char16_t>(cp));
    } else {
      all.push_back(static_cast<char16_t>((cp >> 10) + 0xD7C0));
      all.push_back(static_cast<char16_t>((cp & 0x3FF) + 0xDC00));
    }
  }
  EXPECT_EQ(ansiToWide(wideToAnsi(all)), all);
}

}  // namespace
