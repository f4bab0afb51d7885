#include "text/text_convert.h"

#include <gtest/gtest.h>
#include <utf8cpp/utf8.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

// What a conversion did: its result, or the exception it raised, named by
// type, message and the value utfcpp stores in it (the reference's partial
// output is dropped: callers never see one).
struct Outcome {
  std::u16string wide;
  std::string narrow;
  std::string error;
  bool operator==(const Outcome& other) const {
    return wide == other.wide && narrow == other.narrow && error == other.error;
  }
};

std::ostream& operator<<(std::ostream& os, const Outcome& outcome) {
  os << "error '" << outcome.error << "', " << outcome.wide.size() << " units, "
     << outcome.narrow.size() << " bytes";
  return os;
}

template <typename Convert>
std::string describeError(Convert convert) {
  try {
    convert();
  } catch (const utf8::not_enough_room& e) {
    return std::string("not_enough_room: ") + e.what();
  } catch (const utf8::invalid_utf8& e) {
    return std::string("invalid_utf8: ") + e.what() + " " + std::to_string(e.utf8_octet());
  } catch (const utf8::invalid_code_point& e) {
    return std::string("invalid_code_point: ") + e.what() + " " + std::to_string(e.code_point());
  } catch (const utf8::invalid_utf16& e) {
    return std::string("invalid_utf16: ") + e.what() + " " + std::to_string(e.utf16_word());
  }
  return std::string();
}

template <typename Convert>
Outcome run(Convert convert) {
  Outcome outcome;
  outcome.error = describeError([&] { convert(outcome); });
  if (!outcome.error.empty()) {
    outcome.wide.clear();
    outcome.narrow.clear();
  }
  return outcome;
}

Outcome ours(const std::string& bytes) {
  return run([&](Outcome& o) { o.wide = utf8ToWide(bytes); });
}

Outcome reference(const std::string& bytes) {
  return run(
      [&](Outcome& o) { utf8::utf8to16(bytes.begin(), bytes.end(), std::back_inserter(o.wide)); });
}

Outcome ours(const std::u16string& text) {
  return run([&](Outcome& o) { o.narrow = wideToUtf8(text); });
}

Outcome reference(const std::u16string& text) {
  return run(
      [&](Outcome& o) { utf8::utf16to8(text.begin(), text.end(), std::back_inserter(o.narrow)); });
}

std::string bytesOf(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

struct Utf8Case {
  std::string bytes;
  std::u16string expected;
  const char* error;  // the message, or nullptr for success
};

TEST(Utf8ToWide, ConvertsTheDocumentedEdgeCases) {
  const Utf8Case cases[] = {
      {"", u"", nullptr},
      {bytesOf({0xF0, 0x9F, 0x98, 0x80}), u"\xD83D\xDE00", nullptr},
      {bytesOf({0x61, 0x00, 0x62}), std::u16string(u"a\0b", 3), nullptr},
      {bytesOf({0xD0, 0x9F, 0xD1, 0x80}), u"\x041F\x0440", nullptr},
      {bytesOf({0xE2, 0x82, 0xAC}), u"\x20AC", nullptr},
      {bytesOf({0xC3}), u"", "Not enough space"},
      {bytesOf({0xC0, 0x80}), u"", "Invalid UTF-8"},
      {bytesOf({0xED, 0xA0, 0x80}), u"", "Invalid code point"},
      {bytesOf({0x80}), u"", "Invalid UTF-8"},
      {bytesOf({0xF4, 0x90, 0x80, 0x80}), u"", "Invalid code point"},
      {bytesOf({0xE0, 0x80, 0xAF}), u"", "Invalid UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    if (c.error == nullptr) {
      EXPECT_EQ(utf8ToWide(c.bytes), c.expected);
      EXPECT_EQ(utf8ToWide(c.bytes.data(), c.bytes.size()), c.expected);
    } else {
      try {
        utf8ToWide(c.bytes);
        ADD_FAILURE() << "no exception";
      } catch (const utf8::exception& e) {
        EXPECT_STREQ(e.what(), c.error);
      }
    }
  }
}

TEST(Utf8ToWide, RaisesUtfcppsExceptionTypes) {
  EXPECT_THROW(utf8ToWide(bytesOf({0xC3})), utf8::not_enough_room);
  EXPECT_THROW(utf8ToWide(bytesOf({0xC0, 0x80})), utf8::invalid_utf8);
  EXPECT_THROW(utf8ToWide(bytesOf({0xED, 0xA0, 0x80})), utf8::invalid_code_point);
}

struct Utf16Case {
  std::u16string text;
  std::string expected;
  const char* error;
};

TEST(WideToUtf8, ConvertsTheDocumentedEdgeCases) {
  const Utf16Case cases[] = {
      {u"", "", nullptr},
      {u"\xD83D\xDE00", bytesOf({0xF0, 0x9F, 0x98, 0x80}), nullptr},
      {std::u16string(u"a\0b", 3), bytesOf({0x61, 0x00, 0x62}), nullptr},
      {u"\x041F\x20AC", bytesOf({0xD0, 0x9F, 0xE2, 0x82, 0xAC}), nullptr},
      {u"\xD800", "", "Invalid UTF-16"},
      {u"\xDC00", "", "Invalid UTF-16"},
      {u"\xD800\x0061", "", "Invalid UTF-16"},
      {u"\xDBFF\xDBFF\xDC00", "", "Invalid UTF-16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.expected));
    if (c.error == nullptr) {
      EXPECT_EQ(wideToUtf8(c.text), c.expected);
      EXPECT_EQ(wideToUtf8(c.text.data(), c.text.size()), c.expected);
    } else {
      EXPECT_THROW(wideToUtf8(c.text), utf8::invalid_utf16);
      EXPECT_EQ(ours(c.text).error, reference(c.text).error);
    }
  }
}

// Byte values at the edges of every class the decoder distinguishes.
const int kEdgeBytes[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                          0xC0, 0xC1, 0xC2, 0xD0, 0xDF, 0xE0, 0xE1, 0xED, 0xEE,
                          0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xF7, 0xF8, 0xFF};

// ASCII runs on both sides of the fast path's 16-byte blocks.
const std::size_t kPrefixLengths[] = {0, 1, 7, 15, 16, 17, 31, 33};

std::string asciiRun(std::size_t length) {
  std::string run;
  for (std::size_t i = 0; i < length; ++i) run.push_back(static_cast<char>('!' + i % 90));
  return run;
}

TEST(Utf8ToWide, MatchesUtfcppOnEveryTwoByteInput) {
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const std::string bytes = bytesOf({a, b});
      ASSERT_EQ(ours(bytes), reference(bytes)) << a << " " << b;
    }
  }
}

void expectEdgeTuplesMatch(const std::string& prefix, std::string tuple, std::size_t length) {
  if (tuple.size() == length) {
    const std::string bytes = prefix + tuple + prefix.substr(0, prefix.size() % 5);
    ASSERT_EQ(ours(bytes), reference(bytes)) << testing::PrintToString(bytes);
    return;
  }
  // A fourth byte matters only as a trail byte or not.
  static const std::vector<int> kFourthBytes = {0x41, 0x80, 0xBF, 0xC0};
  const std::vector<int> bytes =
      tuple.size() == 3 ? kFourthBytes
                        : std::vector<int>(std::begin(kEdgeBytes), std::end(kEdgeBytes));
  for (int byte : bytes) {
    expectEdgeTuplesMatch(prefix, tuple + static_cast<char>(byte), length);
    if (testing::Test::HasFatalFailure()) return;
  }
}

TEST(Utf8ToWide, MatchesUtfcppOnEdgeByteTuplesAfterAsciiRuns) {
  for (std::size_t length = 1; length <= 4; ++length) {
    for (std::size_t prefix : kPrefixLengths) {
      // Four-byte tuples are many: no prefix, and one past the first block.
      if (length == 4 && prefix != 0 && prefix != 17) continue;
      expectEdgeTuplesMatch(asciiRun(prefix), "", length);
      if (HasFatalFailure()) return;
    }
  }
}

// Valid characters of every length, and sequences utfcpp rejects for each of
// its reasons (truncation at the end only fails as "Not enough space").
const std::vector<std::string> kValidCharacters = {"a",
                                                   "{",
                                                   bytesOf({0x00}),
                                                   bytesOf({0xC2, 0x80}),
                                                   bytesOf({0xD0, 0x96}),
                                                   bytesOf({0xDF, 0xBF}),
                                                   bytesOf({0xE0, 0xA0, 0x80}),
                                                   bytesOf({0xE2, 0x82, 0xAC}),
                                                   bytesOf({0xED, 0x9F, 0xBF}),
                                                   bytesOf({0xEE, 0x80, 0x80}),
                                                   bytesOf({0xEF, 0xBF, 0xBF}),
                                                   bytesOf({0xF0, 0x90, 0x80, 0x80}),
                                                   bytesOf({0xF0, 0x9F, 0x98, 0x80}),
                                                   bytesOf({0xF4, 0x8F, 0xBF, 0xBF})};

const std::vector<std::string> kBadSequences = {bytesOf({0x80}),
                                                bytesOf({0xBF}),
                                                bytesOf({0xC0, 0x80}),
                                                bytesOf({0xC1, 0xBF}),
                                                bytesOf({0xC3}),
                                                bytesOf({0xC3, 0x41}),
                                                bytesOf({0xE0, 0x80, 0x80}),
                                                bytesOf({0xE0, 0x9F, 0xBF}),
                                                bytesOf({0xED, 0xA0, 0x80}),
                                                bytesOf({0xED, 0xBF, 0xBF}),
                                                bytesOf({0xEF, 0xBF}),
                                                bytesOf({0xE2, 0x41, 0x80}),
                                                bytesOf({0xF0, 0x8F, 0xBF, 0xBF}),
                                                bytesOf({0xF0, 0x8D, 0xA0, 0x80}),
                                                bytesOf({0xF4, 0x90, 0x80, 0x80}),
                                                bytesOf({0xF5, 0x80, 0x80, 0x80}),
                                                bytesOf({0xF8}),
                                                bytesOf({0xFE}),
                                                bytesOf({0xFF}),
                                                bytesOf({0xF0, 0x9F, 0x98}),
                                                bytesOf({0xF0, 0x9F, 0x41, 0x80})};

std::string randomText(std::mt19937& random, std::size_t characters) {
  std::string text;
  for (std::size_t i = 0; i < characters; ++i) {
    if (random() % 3 == 0) {
      text += asciiRun(random() % 40);
    } else {
      text += kValidCharacters[random() % kValidCharacters.size()];
    }
  }
  return text;
}

TEST(Utf8ToWide, MatchesUtfcppWithAnErrorAtEveryOffset) {
  std::mt19937 random(777);
  for (int round = 0; round < 12; ++round) {
    const std::string text = randomText(random, 30);
    for (std::size_t offset = 0; offset <= text.size(); ++offset) {
      for (const auto& bad : kBadSequences) {
        const std::string bytes = text.substr(0, offset) + bad + text.substr(offset);
        ASSERT_EQ(ours(bytes), reference(bytes)) << testing::PrintToString(bytes);
        const std::string cutAfter = text.substr(0, offset) + bad;
        ASSERT_EQ(ours(cutAfter), reference(cutAfter)) << testing::PrintToString(cutAfter);
      }
    }
  }
}

// The conversions work through slices of 4 KiB; characters and errors that
// straddle a slice's end must come out as they do elsewhere.
TEST(Utf8ToWide, MatchesUtfcppAcrossSliceEnds) {
  std::vector<std::string> middles = kValidCharacters;
  middles.insert(middles.end(), kBadSequences.begin(), kBadSequences.end());
  for (std::size_t before : {4090u, 8180u}) {
    for (std::size_t shift = 0; shift < 12; ++shift) {
      for (const auto& middle : middles) {
        const std::string bytes = asciiRun(before + shift) + middle;
        ASSERT_EQ(ours(bytes), reference(bytes)) << before + shift;
        const std::string longer = bytes + std::string(kValidCharacters[4]) + asciiRun(20);
        ASSERT_EQ(ours(longer), reference(longer)) << before + shift;
        const std::string cyrillic = kValidCharacters[4] + asciiRun(before + shift - 2) + middle;
        ASSERT_EQ(ours(cyrillic), reference(cyrillic)) << before + shift;
      }
    }
  }
}

// Units at the edges of every class the encoder distinguishes.
const char16_t kEdgeUnits[] = {0x0000, 0x0041, 0x007F, 0x0080, 0x0410, 0x07FF, 0x0800, 0x20AC,
                               0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};

std::u16string wideAsciiRun(std::size_t length) {
  std::u16string run;
  for (std::size_t i = 0; i < length; ++i) run.push_back(static_cast<char16_t>('!' + i % 90));
  return run;
}

TEST(WideToUtf8, MatchesUtfcppOnEverySingleUnitAfterAsciiRuns) {
  for (std::size_t prefix : kPrefixLengths) {
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
      const std::u16string text =
          wideAsciiRun(prefix) + static_cast<char16_t>(unit) + wideAsciiRun(prefix % 3);
      ASSERT_EQ(ours(text), reference(text)) << unit;
    }
  }
}

TEST(WideToUtf8, MatchesUtfcppOnGeneratedTextWithAndWithoutSurrogateErrors) {
  std::mt19937 random(4242);
  for (int round = 0; round < 3000; ++round) {
    std::u16string text;
    const std::size_t characters = random() % 60;
    for (std::size_t i = 0; i < characters; ++i) {
      if (random() % 3 == 0) {
        text += wideAsciiRun(random() % 40);
      } else {
        text += kEdgeUnits[random() % 16];
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF && random() % 4 != 0) {
          text += static_cast<char16_t>(0xDC00 + random() % 0x400);
        }
      }
    }
    ASSERT_EQ(ours(text), reference(text));
  }
}

TEST(WideToUtf8, MatchesUtfcppWithALoneSurrogateAtEveryOffset) {
  std::mt19937 random(5);
  const std::u16string base = utf8ToWide(randomText(random, 40));
  for (std::size_t offset = 0; offset <= base.size(); ++offset) {
    for (char16_t lone : {char16_t{0xD800}, char16_t{0xDBFF}, char16_t{0xDC00}, char16_t{0xDFFF}}) {
      const std::u16string text = base.substr(0, offset) + lone + base.substr(offset);
      ASSERT_EQ(ours(text), reference(text)) << offset;
    }
  }
}

TEST(WideToUtf8, MatchesUtfcppAcrossSliceEnds) {
  const std::u16string middles[] = {u"\xD83D\xDE00", u"\x0416",       u"\x20AC",      u"\xD800",
                                    u"\xDC00",       u"\xD800\x0061", u"\xDBFF\xDBFF"};
  for (std::size_t before : {4090u, 8180u}) {
    for (std::size_t shift = 0; shift < 12; ++shift) {
      for (const auto& middle : middles) {
        const std::u16string text = wideAsciiRun(before + shift) + middle;
        ASSERT_EQ(ours(text), reference(text)) << before + shift;
        const std::u16string longer = text + u"\x0416" + wideAsciiRun(20);
        ASSERT_EQ(ours(longer), reference(longer)) << before + shift;
        const std::u16string cyrillic = u"\x0416" + wideAsciiRun(before + shift - 1) + middle;
        ASSERT_EQ(ours(cyrillic), reference(cyrillic)) << before + shift;
      }
    }
  }
}

TEST(AnsiConversions, ForwardToThePlatformCodePage) {
  EXPECT_EQ(ansiToWide(""), u"");
  EXPECT_EQ(wideToAnsi(u""), "");
  EXPECT_EQ(ansiToWide(bytesOf({0x2F, 0xD0, 0x9F, 0xC3})), u"/\x041F\xFFFD");
  EXPECT_EQ(wideToAnsi(u"/\x041F\xD800"), bytesOf({0x2F, 0xD0, 0x9F, '?'}));
}

TEST(Utf8Length, CountsExactlyWhatTheEncoderWrites) {
  const std::u16string texts[] = {u"",           u"a\u00e9\u0416\u20ac", u"\U0001F600", u"a\xd800" u"b",
                                  u"\xdc00\xd800", std::u16string(40, u'\xd800') + u"\u0416\U0001F600"};
  for (const auto& text : texts) {
    for (LoneSurrogate policy : {LoneSurrogate::kReplacement, LoneSurrogate::kQuestionMark}) {
      EXPECT_EQ(utf8Length(text, policy), wideToUtf8(text, policy).size());
    }
  }
  EXPECT_EQ(wideToUtf8(u"a\xd800" u"b", LoneSurrogate::kReplacement), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(utf8Length(u"\U0001F600", LoneSurrogate::kThrow), 4u);
  EXPECT_THROW(utf8Length(u"a\xd800", LoneSurrogate::kThrow), utf8::invalid_utf16);
}

}  // namespace
