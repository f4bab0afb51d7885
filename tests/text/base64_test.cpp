#include "text/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "text/text_convert.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string encode(const Bytes& bytes) {
  return base64Encode(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct EncodeCase {
  Bytes bytes;
  std::string expected;
};

TEST(Base64Encode, PadsTheLastGroupToFourCharacters) {
  const EncodeCase cases[] = {
      {{}, ""},
      {{0x41}, "QQ=="},
      {{0x41, 0x42}, "QUI="},
      {{0x41, 0x42, 0x43}, "QUJD"},
      {{0x41, 0x42, 0x43, 0x44}, "QUJDRA=="},
      {{0x41, 0x42, 0x43, 0x44, 0x45}, "QUJDREU="},
      {{0x00}, "AA=="},
      {{0xFF, 0xFF, 0xFF}, "////"},
      {{0xFB, 0xEF, 0xBE}, "++++"},
      {{0x00, 0x10, 0x83, 0x10, 0x51, 0x87}, "ABCDEFGH"},
      {bytesOf("foobar"), "Zm9vYmFy"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encode(c.bytes), c.expected);
  }
}

TEST(Base64Encode, UsesTheWholeAlphabetInOrder) {
  // Each 6-bit value once: 0, 1, ..., 63 packed into 48 bytes.
  Bytes bytes;
  for (int value = 0; value < 64; value += 4) {
    const std::uint32_t group =
        (value << 18) | ((value + 1) << 12) | ((value + 2) << 6) | (value + 3);
    bytes.push_back(static_cast<std::uint8_t>(group >> 16));
    bytes.push_back(static_cast<std::uint8_t>(group >> 8));
    bytes.push_back(static_cast<std::uint8_t>(group));
  }
  EXPECT_EQ(encode(bytes), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

TEST(Base64RoundTrip, RestoresEveryLengthUpTo64) {
  std::mt19937 random(1);
  for (std::size_t length = 0; length <= 64; ++length) {
    for (int fill : {0x00, 0xFF, -1}) {
      Bytes bytes(length);
      for (auto& b : bytes) b = static_cast<std::uint8_t>(fill < 0 ? random() : fill);
      const std::string text = encode(bytes);
      EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
      EXPECT_EQ(base64Decode(text), bytes) << "length " << length << " fill " << fill;
    }
  }
}

TEST(Base64RoundTrip, RestoresALargeRandomBuffer) {
  std::mt19937 random(2);
  Bytes bytes(3 * 1024 * 1024 + 1);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  EXPECT_EQ(base64Decode(encode(bytes)), bytes);
}

TEST(Base64RoundTrip, RestoresEveryByteValue) {
  Bytes bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<std::uint8_t>(b));
  EXPECT_EQ(base64Decode(encode(bytes)), bytes);
}

struct DecodeCase {
  const char* rule;
  std::string text;
  Bytes expected;
};

TEST(Base64Decode, StopsAtTheFirstPadOrForeignCharacter) {
  const DecodeCase cases[] = {
      {"empty text", "", {}},
      {"one padded group", "QUI=", {0x41, 0x42}},
      {"pad then more groups", "QQ==QUJD", {0x41}},
      {"pad in a whole group", "QUJDRA==QUJD", {0x41, 0x42, 0x43, 0x44}},
      {"pad first", "=QUJD", {}},
      {"line feed", "QUJD\nREVG", {0x41, 0x42, 0x43}},
      {"carriage return", "QUJDREVG\r\nR0hJ", {0x41, 0x42, 0x43, 0x44, 0x45, 0x46}},
      {"line break inside a group", "QU\nJD", {0x41}},
      {"leading space", " QUJD", {}},
      {"leading line break", "\nQUJD", {}},
      {"trailing space", "QUJD ", {0x41, 0x42, 0x43}},
      {"url-safe minus", "QUJD-_-_", {0x41, 0x42, 0x43}},
      {"url-safe underscore", "QU_D", {0x41}},
      {"byte 0x80", "QUJD\x80QUJD", {0x41, 0x42, 0x43}},
      {"byte 0xFF", "QUJ\xFF", {0x41, 0x42}},
      {"latin-1 letter", "QUJ\xE9", {0x41, 0x42}},
      {"zero byte", std::string("QUJD\0QUJD", 9), {0x41, 0x42, 0x43}},
      {"unpadded two", "QQ", {0x41}},
      {"padded two", "QQ==", {0x41}},
      {"unpadded three", "QUI", {0x41, 0x42}},
      {"single character", "Q", {}},
      {"single character padded", "Q===", {}},
      {"five characters", "QUJDR", {0x41, 0x42, 0x43}},
      {"dropped low bits of two", "QR", {0x41}},
      {"dropped low bits of three", "QUJ", {0x41, 0x42}},
      {"all low bits set", "//", {0xFF}},
      {"whole alphabet",
       "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
       {0x00, 0x10, 0x83, 0x10, 0x51, 0x87, 0x20, 0x92, 0x8B, 0x30, 0xD3, 0x8F,
        0x41, 0x14, 0x93, 0x51, 0x55, 0x97, 0x61, 0x96, 0x9B, 0x71, 0xD7, 0x9F,
        0x82, 0x18, 0xA3, 0x92, 0x59, 0xA7, 0xA2, 0x9A, 0xAB, 0xB2, 0xDB, 0xAF,
        0xC3, 0x1C, 0xB3, 0xD3, 0x5D, 0xB7, 0xE3, 0x9E, 0xBB, 0xF3, 0xDF, 0xBF}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(base64Decode(c.text), c.expected) << c.rule;
  }
}

// The decoding steps, literally: a search in the alphabet, one
// character at a time.
Bytes referenceDecode(const std::string& text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes bytes;
  std::uint32_t values[4] = {};
  int count = 0;
  for (char c : text) {
    const std::size_t value = alphabet.find(c);
    if (value == std::string::npos) break;
    values[count++] = static_cast<std::uint32_t>(value);
    if (count == 4) {
      bytes.push_back(static_cast<std::uint8_t>((values[0] << 2) + ((values[1] & 0x30) >> 4)));
      bytes.push_back(
          static_cast<std::uint8_t>(((values[1] & 0x0F) << 4) + ((values[2] & 0x3C) >> 2)));
      bytes.push_back(static_cast<std::uint8_t>(((values[2] & 0x03) << 6) + values[3]));
      count = 0;
    }
  }
  if (count >= 2)
    bytes.push_back(static_cast<std::uint8_t>((values[0] << 2) + ((values[1] & 0x30) >> 4)));
  if (count >= 3)
    bytes.push_back(
        static_cast<std::uint8_t>(((values[1] & 0x0F) << 4) + ((values[2] & 0x3C) >> 2)));
  return bytes;
}

TEST(Base64Decode, StopsAtEveryForeignCharacterInEveryPosition) {
  const std::string valid = "QUJDREVGR0hJ";  // "ABCDEFGHI"
  for (int c = 0; c < 256; ++c) {
    const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (alphabet) continue;
    for (std::size_t at = 0; at <= valid.size(); ++at) {
      std::string text = valid;
      text.insert(at, 1, static_cast<char>(c));
      const Bytes expected = referenceDecode(valid.substr(0, at));
      EXPECT_EQ(base64Decode(text), expected) << c << " at " << at;
      EXPECT_EQ(referenceDecode(text), expected) << c << " at " << at;
    }
  }
}

TEST(Base64Decode, MatchesTheLiteralAlgorithmOnGeneratedText) {
  const std::string characters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string foreign = std::string("= \r\n-_.\x80\xFF\0", 10);
  std::mt19937 random(3);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const std::size_t length = random() % 80;
    for (std::size_t i = 0; i < length; ++i) {
      text += random() % 64 == 0 ? foreign[random() % foreign.size()]
                                 : characters[random() % characters.size()];
    }
    ASSERT_EQ(base64Decode(text), referenceDecode(text)) << text;
  }
}

}  // namespace

namespace {

// Decoding UTF-16 directly must give what decoding its code-page conversion
// gives, and say when only the conversion can tell.
TEST(Base64DecodeWide, MatchesDecodingTheConvertedText) {
  struct Case {
    std::u16string text;
    bool exact;
  };
  const Case cases[] = {
      {u"", true},
      {u"QUJD", true},
      {u"QUJDRA==", true},
      {u"QUJD RA", true},
      {u"QUI\u00e9RA", false},
      {u"QUJD\uff21QUJD", false},
      {u"QU\xd800JD", false},
      {u"\u00e9QUJD", false},
      {u"QUJD=\u00e9", true},
  };
  for (const auto& c : cases) {
    bool exact = !c.exact;
    std::vector<std::uint8_t> wide = base64DecodeWide(c.text, exact);
    EXPECT_EQ(exact, c.exact);
    EXPECT_EQ(wide, base64Decode(wideToAnsi(c.text)));
  }
}

TEST(Base64DecodeWide, AgreesWithTheNarrowDecoderOnGeneratedTexts) {
  const char16_t pieces[] = {u'A', u'z', u'0', u'+', u'/', u'=', u' ', u'\n', u'-',
                             u'\u00e9', u'\u0410', u'\uff21', u'\xd800', u'\xdc00', u'\u0100'};
  std::mt19937 random(7);
  for (int round = 0; round < 5000; ++round) {
    std::u16string text;
    std::size_t length = random() % 40;
    for (std::size_t i = 0; i < length; ++i) {
      text += random() % 4 != 0 ? static_cast<char16_t>(u"QUJDRA0123xyz+/"[random() % 15])
                                : pieces[random() % std::size(pieces)];
    }
    bool exact = false;
    std::vector<std::uint8_t> wide = base64DecodeWide(text, exact);
    EXPECT_EQ(wide, base64Decode(wideToAnsi(text)));
  }
}

}  // namespace
