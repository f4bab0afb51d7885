#include <gtest/gtest.h>

#include <random>
#include <string>

#include "json/json_value.h"
#include "json/text_scan.h"

namespace {

// Mixed text: plain ASCII, the units the serializer escapes, and surrogates paired or not.
std::u16string randomText(std::mt19937& random, std::size_t length) {
  static constexpr char16_t kUnits[] = {u'a', u'b', u'Z', u'0', u'"', u'\\', u'/', u'\b', u'\t',
                                        u'\n', 0x0000, 0x0001, 0x001F, 0x007F, 0x00E9, 0x4E2D,
                                        0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFF};
  std::u16string text;
  for (std::size_t i = 0; i < length; ++i) {
    // Mostly plain, so that whole blocks without attention units occur too.
    text.push_back(random() % 4 == 0 ? kUnits[random() % std::size(kUnits)] : u'x');
  }
  return text;
}

TEST(JsonTextScan, CountsExactlyTheUnitsTheSerializerWrites) {
  std::mt19937 random(42);
  for (int round = 0; round < 3000; ++round) {
    const std::u16string text = randomText(random, random() % 80);
    const std::u16string written = JsonValue::stringifyString(text);
    ASSERT_EQ(escapedLength(text.data(), text.data() + text.size()) + 2, written.size())
        << ::testing::PrintToString(text);
  }
}

TEST(JsonTextScan, CountsLongRunsOfPunctuation) {
  // More blocks than one lane of the vector count holds before it is summed.
  for (const std::size_t length : {262136u, 262144u, 300001u}) {
    const std::u16string slashes(length, u'/');
    EXPECT_EQ(escapedLength(slashes.data(), slashes.data() + slashes.size()), 2 * length);
    std::u16string mixed = slashes;
    mixed[length / 2] = 0x0001;
    EXPECT_EQ(escapedLength(mixed.data(), mixed.data() + mixed.size()), 2 * length + 4);
  }
}

TEST(JsonTextScan, FindsTheFirstUnitNeedingAttention) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    const std::u16string text = randomText(random, random() % 80);
    const char16_t* end = text.data() + text.size();
    const char16_t* expected = text.data();
    while (expected != end && !(*expected == u'"' || *expected == u'\\' || *expected == u'/' ||
                                *expected < 0x20 || (*expected & 0xF800) == 0xD800)) {
      ++expected;
    }
    ASSERT_EQ(findEscapeCandidate(text.data(), end), expected) << ::testing::PrintToString(text);

    // From every start up to eight units in, so the aligned blocks fall everywhere.
    for (std::size_t start = 0; start <= text.size() && start < 8; ++start) {
      const char16_t* delimiter = text.c_str() + start;
      while (!(*delimiter == u'"' || *delimiter == u'\\' || *delimiter < 0x20)) {
        ++delimiter;
      }
      ASSERT_EQ(findStringDelimiter(text.c_str() + start), delimiter)
          << start << ' ' << ::testing::PrintToString(text);
    }
  }
}

}  // namespace
