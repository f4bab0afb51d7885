#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "json/json_value.h"
#include "tests/json/json_test_util.h"

namespace {

struct ParseCase {
  std::u16string input;
  std::optional<std::u16string> written;  // nullopt: the parse fails
};

TEST(JsonParse, AcceptsAndRejectsDocuments) {
  const std::vector<ParseCase> cases = {
      {u" \t\r\n{ } \t\r\n", u"{}"},
      {u"[ ]", u"[]"},
      {u"", std::nullopt},
      {u"\uFEFF{}", std::nullopt},
      {u"\f{}", std::nullopt},
      {u"{}\u00A0", std::nullopt},
      // Literals are case-blind.
      {u"[TrUe,fAlSe,NuLl]", u"[true,false,null]"},
      {u"truex", std::nullopt},
      {u"[tru]", std::nullopt},
      {u"-0", u"-0"},
      {u"1.5e+2", u"150"},
      {u"1e400", u"null"},
      {u"01", std::nullopt},
      {u"+1", std::nullopt},
      {u".5", std::nullopt},
      {u"1.", std::nullopt},
      {u"1e+", std::nullopt},
      {u"- 1", std::nullopt},
      {u"1 2", std::nullopt},
      {u"[1,]", std::nullopt},
      {u"[1,,2]", std::nullopt},
      {u"[1", std::nullopt},
      {u"[]]", std::nullopt},
      {u"{\"a\":1,}", std::nullopt},
      {u"{\"a\" 1}", std::nullopt},
      {u"{a:1}", std::nullopt},
      {u"{\"a\":1", std::nullopt},
      {u"{\"a\":1 \"b\":2}", std::nullopt},
      {u"{\"b\" : [1, 2.50, \"x\\u0041\"], \"a\":null}", u"{\"a\":null,\"b\":[1,2.5,\"xA\"]}"},
      {u"\"abc", std::nullopt},
      {u"\"a\tb\"", u"\"a\\tb\""},
      {u"\"a\nb\"", std::nullopt},
      {u"\"\u001F\"", std::nullopt},
      {u"\"\xD800\"", u"\"\\ud800\""},
      // Escapes.
      {u"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", u"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""},
      {u"\"\\u00e9\\u00E9\\uDE00\\uD83D\\u0000\"", u"\"\u00E9\u00E9\\ude00\\ud83d\\u0000\""},
      {u"\"\\x\"", std::nullopt},
      {u"\"\\U0041\"", std::nullopt},
      {u"\"\\u12G4\"", std::nullopt},
      {u"\"\\u123", std::nullopt},
      {u"\"abc\\", std::nullopt},
      // The text ends at its first U+0000.
      {std::u16string(u"{}\0garbage", 10), u"{}"},
      {std::u16string(u"\"ab\0cd\"", 7), std::nullopt},
      {std::u16string(u"tr\0ue", 5), std::nullopt},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(::testing::PrintToString(testCase.input));
    EXPECT_EQ(parsedAndWritten(testCase.input), testCase.written);
  }
}

TEST(JsonParse, KeepsTheLastDuplicateAndOrdersKeysByCodeUnits) {
  auto value = parseText(u"{\"b\":1,\"a\":{\"x\":\"y\"},\"B\":3,\"\u00E9\":7,\"a\":\"last\"}");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->stringify(), u"{\"B\":3,\"a\":\"last\",\"b\":1,\"\u00E9\":7}");
}

std::u16string nested(int depth, const std::u16string& open, const std::u16string& close) {
  std::u16string text;
  for (int i = 0; i < depth; ++i) text += open;
  text += u"0";
  for (int i = 0; i < depth; ++i) text += close;
  return text;
}

// The root container is level 1; 512 levels parse, 513 fail.
TEST(JsonParse, AcceptsNestingUpTo512LevelsAndFailsBeyond) {
  EXPECT_NE(parseText(nested(512, u"[", u"]")), nullptr);
  EXPECT_EQ(parseText(nested(513, u"[", u"]")), nullptr);
  EXPECT_NE(parseText(nested(512, u"{\"a\":", u"}")), nullptr);
  EXPECT_EQ(parseText(nested(513, u"{\"a\":", u"}")), nullptr);
  EXPECT_EQ(parseText(std::u16string(100000, u'[')), nullptr);
}

// The bulk copy of plain runs must stop exactly at each delimiter, at any alignment.
TEST(JsonParse, CopiesPlainRunsExactlyAtEveryPositionAndAlignment) {
  const std::u16string specials[] = {u"\\\"", u"\\u0000", u"\t", u"\xD800"};
  const std::u16string units[] = {u"\"", std::u16string(1, u'\0'), u"\t", u"\xD800"};
  for (std::size_t lead = 0; lead < 8; ++lead) {
    for (std::size_t length = 0; length < 40; ++length) {
      for (std::size_t position = 0; position <= length; ++position) {
        for (std::size_t s = 0; s < std::size(specials); ++s) {
          std::u16string body(length, u'x'), expected(length, u'x');
          body.insert(position, specials[s]);
          expected.insert(position, units[s]);
          auto value = parseText(std::u16string(lead, u' ') + u"\"" + body + u"\"");
          ASSERT_NE(value, nullptr) << lead << ' ' << length << ' ' << position << ' ' << s;
          ASSERT_EQ(value->asString(), expected) << lead << ' ' << length << ' ' << position;
        }
      }
      const std::u16string open = std::u16string(lead, u' ') + u"\"" + std::u16string(length, u'y');
      ASSERT_EQ(parseText(open), nullptr);
      ASSERT_EQ(parseText(open + u"\n\""), nullptr);
    }
  }
}

// A text the parser may consume gives the same tree (a large string may take its memory over).
TEST(JsonParseConsuming, GivesTheSameResultAsParsingABorrowedText) {
  const std::u16string big(200000, u'Q'), other(150000, u'R');
  const std::u16string texts[] = {
      u"{\"a\":1,\"contentFile\":\"" + big + u"\",\"z\":[true,\"x\"]}",
      u"{\"" + big + u"\":null}",
      u"[\"" + big + u"\\n" + big + u"\"]",
      u"[\"" + other + u"\",\"" + big + u"\"]",
      u"\"" + big + u"\"" + std::u16string(1, u'\0') + u"garbage",
      u"[\"" + big + u"\",]",
      u"\"" + big,
  };
  for (const auto& original : texts) {
    auto borrowed = JsonValue::parse(original.c_str());
    std::u16string text = original;
    auto consumed = JsonValue::parse(std::move(text));
    ASSERT_EQ(consumed == nullptr, borrowed == nullptr);
    if (borrowed) {
      EXPECT_TRUE(text.empty());
      EXPECT_EQ(consumed->stringify(), borrowed->stringify());
    }
  }
}

}  // namespace
