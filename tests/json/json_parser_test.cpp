#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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
      // Empty containers, whitespace.
      {u"{}", u"{}"},
      {u"[]", u"[]"},
      {u"{ }", u"{}"},
      {u"[ ]", u"[]"},
      {u" \t\r\n{} \t\r\n", u"{}"},
      {u"", std::nullopt},
      {u"   ", std::nullopt},
      {u"\t\r\n", std::nullopt},
      {u"\uFEFF{}", std::nullopt},
      {u"\f{}", std::nullopt},
      {u"\v{}", std::nullopt},
      {u"\u00A0{}", std::nullopt},
      {u"{}\u00A0", std::nullopt},
      // Literals, case-blind, judged by the caller afterwards.
      {u"true", u"true"},
      {u"TRUE", u"true"},
      {u"False", u"false"},
      {u"nULL", u"null"},
      {u"[TrUe,fAlSe,NuLl]", u"[true,false,null]"},
      {u"truex", std::nullopt},
      {u"true false", std::nullopt},
      {u"tru", std::nullopt},
      {u"fals", std::nullopt},
      {u"nul", std::nullopt},
      {u"[tru]", std::nullopt},
      {u"nil", std::nullopt},
      // Numbers.
      {u"0", u"0"},
      {u"-0", u"-0"},
      {u"1E+2", u"100"},
      {u"12e3", u"12000"},
      {u"1e-2", u"0.01"},
      {u"1.5e+2", u"150"},
      {u"0.3", u"0.3"},
      {u"-12.25", u"-12.25"},
      {u"1e400", u"null"},
      {u"-1e400", u"null"},
      {u"1e-400", u"0"},
      {u"01", std::nullopt},
      {u"-01", std::nullopt},
      {u"00", std::nullopt},
      {u"+1", std::nullopt},
      {u".5", std::nullopt},
      {u"1.", std::nullopt},
      {u"1.e5", std::nullopt},
      {u"1e", std::nullopt},
      {u"1e+", std::nullopt},
      {u"1E-", std::nullopt},
      {u"-", std::nullopt},
      {u"-a", std::nullopt},
      {u"- 1", std::nullopt},
      {u"0x10", std::nullopt},
      {u"1 2", std::nullopt},
      // Arrays and objects.
      {u"[1,]", std::nullopt},
      {u"[,1]", std::nullopt},
      {u"[1,,2]", std::nullopt},
      {u"[1 2]", std::nullopt},
      {u"[", std::nullopt},
      {u"[1", std::nullopt},
      {u"[1,", std::nullopt},
      {u"[1, ", std::nullopt},
      {u"[]]", std::nullopt},
      {u"{\"a\":1,}", std::nullopt},
      {u"{,}", std::nullopt},
      {u"{\"a\" 1}", std::nullopt},
      {u"{\"a\":}", std::nullopt},
      {u"{a:1}", std::nullopt},
      {u"{'a':1}", std::nullopt},
      {u"{", std::nullopt},
      {u"{\"a\"", std::nullopt},
      {u"{\"a\":", std::nullopt},
      {u"{\"a\":1", std::nullopt},
      {u"{\"a\":1,", std::nullopt},
      {u"{\"a\":1 \"b\":2}", std::nullopt},
      {u"{}}", std::nullopt},
      {u"{\"\":0}", u"{\"\":0}"},
      {u"[[],{},[[{}]],\"\"]", u"[[],{},[[{}]],\"\"]"},
      {u"{\"b\" : [1, 2.50, \"x\\u0041\"], \"a\":null}", u"{\"a\":null,\"b\":[1,2.5,\"xA\"]}"},
      // Strings.
      {u"\"abc", std::nullopt},
      {u"\"a\tb\"", u"\"a\\tb\""},
      {u"\"a\nb\"", std::nullopt},
      {u"\"a\rb\"", std::nullopt},
      {u"\"\u0001\"", std::nullopt},
      {u"\"\u001F\"", std::nullopt},
      {u"\"\u007F\u00E9\u4E2D\"", u"\"\u007F\u00E9\u4E2D\""},
      {u"\"\xD800\"", u"\"\\ud800\""},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(::testing::PrintToString(testCase.input));
    EXPECT_EQ(parsedAndWritten(testCase.input), testCase.written);
  }
}

struct EscapeCase {
  std::u16string body;                   // between the quotation marks
  std::optional<std::u16string> units;   // nullopt: the string fails
};

TEST(JsonParse, TranslatesEachEscapeIntoOneCodeUnit) {
  const std::vector<EscapeCase> cases = {
      {u"\\\"", u"\""},
      {u"\\\\", u"\\"},
      {u"\\/", u"/"},
      {u"\\b", u"\b"},
      {u"\\f", u"\f"},
      {u"\\n", u"\n"},
      {u"\\r", u"\r"},
      {u"\\t", u"\t"},
      {u"\\u00e9", u"\u00E9"},
      {u"\\u00E9", u"\u00E9"},
      {u"\\uD83D\\uDE00", u"\xD83D\xDE00"},
      {u"\\uDE00\\uD83D", u"\xDE00\xD83D"},
      {u"\\uD83D", u"\xD83D"},
      {u"\\u0000", std::u16string(1, u'\0')},
      {u"a\\u0000b", std::u16string(u"a\0b", 3)},
      {u"\\u0041\\u0062", u"Ab"},
      {u"\\uffff", u"\xFFFF"},
      {u"x\\\\\\\"y", u"x\\\"y"},
      {u"\\x", std::nullopt},
      {u"\\'", std::nullopt},
      {u"\\0", std::nullopt},
      {u"\\U0041", std::nullopt},
      {u"\\u12", std::nullopt},
      {u"\\u12G4", std::nullopt},
      {u"\\u-123", std::nullopt},
      {u"\\ ", std::nullopt},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(::testing::PrintToString(testCase.body));
    auto value = parseText(u"\"" + testCase.body + u"\"");
    if (!testCase.units) {
      EXPECT_EQ(value, nullptr);
      continue;
    }
    ASSERT_NE(value, nullptr);
    ASSERT_TRUE(value->isString());
    EXPECT_EQ(value->asString(), *testCase.units);
  }
}

TEST(JsonParse, FailsAnEscapeCutShortByTheEndOfTheText) {
  for (const std::u16string text : {u"\"\\", u"\"\\u", u"\"\\u1", u"\"\\u12", u"\"\\u123",
                                    u"\"\\u1234", u"\"abc\\"}) {
    SCOPED_TRACE(::testing::PrintToString(text));
    EXPECT_EQ(parseText(text), nullptr);
  }
}

TEST(JsonParse, StopsAtTheFirstNulUnit) {
  struct NulCase {
    std::u16string text;
    std::optional<std::u16string> written;
  };
  const std::vector<NulCase> cases = {
      {std::u16string(u"{}\0garbage", 10), u"{}"},
      {std::u16string(u"[1]  \0 ]", 8), u"[1]"},
      {std::u16string(u"true\0x", 6), u"true"},
      {std::u16string(u"\"ab\0cd\"", 7), std::nullopt},
      {std::u16string(u"[1,\0 2]", 7), std::nullopt},
      {std::u16string(u"tr\0ue", 5), std::nullopt},
      {std::u16string(u"\0{}", 3), std::nullopt},
      {std::u16string(u"-\0", 2), std::nullopt},
      {std::u16string(u"1.\0", 3), std::nullopt},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(::testing::PrintToString(testCase.text));
    EXPECT_EQ(parsedAndWritten(testCase.text), testCase.written);
  }
}

TEST(JsonParse, KeepsTheLastOccurrenceOfADuplicateKey) {
  auto value = parseText(u"{\"a\":1,\"b\":[true],\"a\":{\"x\":\"y\"},\"b\":2,\"a\":\"last\"}");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->objectKeys(), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(value->stringify(), u"{\"a\":\"last\",\"b\":2}");
}

TEST(JsonParse, OrdersMembersByCodeUnitsWhateverTheSourceOrder) {
  auto value = parseText(u"{\"b\":1,\"a\":2,\"B\":3,\"\":4,\"dataX\":5,\"data\":6,\"\u00E9\":7}");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->objectKeys(),
            (std::vector<std::u16string>{u"", u"B", u"a", u"b", u"data", u"dataX", u"\u00E9"}));
}

std::u16string nestedArrays(int depth) {
  return std::u16string(static_cast<std::size_t>(depth), u'[') +
         std::u16string(static_cast<std::size_t>(depth), u']');
}

std::u16string nestedObjects(int depth) {
  std::u16string text;
  for (int i = 0; i < depth; ++i) text += u"{\"a\":";
  text += u"0";
  for (int i = 0; i < depth; ++i) text += u"}";
  return text;
}

// The root container is level 1; 512 levels parse, 513 fail.
TEST(JsonParse, AcceptsNestingUpTo512LevelsAndFailsBeyond) {
  static_assert(JsonValue::kMaxNestingDepth == 512);
  EXPECT_NE(parseText(nestedArrays(512)), nullptr);
  EXPECT_EQ(parseText(nestedArrays(513)), nullptr);
  EXPECT_NE(parseText(nestedObjects(512)), nullptr);
  EXPECT_EQ(parseText(nestedObjects(513)), nullptr);

  std::u16string mixed;
  for (int i = 0; i < 256; ++i) mixed += u"[{\"k\":";
  mixed += u"1";
  for (int i = 0; i < 256; ++i) mixed += u"}]";
  EXPECT_NE(parseText(mixed), nullptr);
  EXPECT_EQ(parseText(u"[" + mixed + u"]"), nullptr);

  auto deepest = parseText(nestedArrays(512));
  ASSERT_NE(deepest, nullptr);
  EXPECT_EQ(deepest->stringify(), nestedArrays(512));
}

TEST(JsonParse, FailsCleanlyOnHugeNesting) {
  EXPECT_EQ(parseText(std::u16string(100000, u'[')), nullptr);
  EXPECT_EQ(parseText(nestedArrays(100000)), nullptr);
  std::u16string objects;
  for (int i = 0; i < 100000; ++i) objects += u"{\"\":";
  EXPECT_EQ(parseText(objects), nullptr);
}

// The bulk copy of plain runs must stop exactly at each delimiter wherever it falls relative to
// the vector blocks, and with the text starting at any alignment.
TEST(JsonParse, CopiesPlainRunsExactlyAtEveryPositionAndAlignment) {
  const std::u16string specials[] = {u"\\n", u"\\\"", u"\\u0000", u"\t", u"\u00E9", u"\xD800"};
  const std::u16string expectedUnits[] = {u"\n", u"\"", std::u16string(1, u'\0'), u"\t",
                                          u"\u00E9", u"\xD800"};
  for (int lead = 0; lead < 8; ++lead) {
    for (int length = 0; length < 40; ++length) {
      for (int position = 0; position <= length; ++position) {
        for (std::size_t s = 0; s < std::size(specials); ++s) {
          std::u16string body(static_cast<std::size_t>(length), u'x');
          std::u16string expected = body;
          body.insert(static_cast<std::size_t>(position), specials[s]);
          expected.insert(static_cast<std::size_t>(position), expectedUnits[s]);
          const std::u16string text = std::u16string(static_cast<std::size_t>(lead), u' ') +
                                      u"\"" + body + u"\"";
          auto value = parseText(text);
          ASSERT_NE(value, nullptr) << lead << ' ' << length << ' ' << position << ' ' << s;
          ASSERT_EQ(value->asString(), expected) << lead << ' ' << length << ' ' << position;
        }
      }
      // A raw control unit at the end of the run, and the end of the text inside the string.
      std::u16string unterminated = std::u16string(static_cast<std::size_t>(lead), u' ') + u"\"" +
                                    std::u16string(static_cast<std::size_t>(length), u'y');
      ASSERT_EQ(parseText(unterminated), nullptr);
      ASSERT_EQ(parseText(unterminated + u"\n\""), nullptr);
    }
  }
}

TEST(JsonParse, ReadsALargeMemberIntoAStringOfExactlyItsSize) {
  std::u16string base64;
  for (std::size_t i = 0; i < (1u << 20); ++i) {
    base64.push_back(u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[i * 7 % 64]);
  }
  auto value = parseText(u"{\"contentId\":\"1\",\"data\":{\"requestAction\":\"getSignature\","
                         u"\"containerName\":\"C1\",\"contentFile\":\"" + base64 + u"\"}}");
  ASSERT_NE(value, nullptr);
  const JsonValue* content = value->child(u"data")->child(u"contentFile");
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->asString(), base64);
  // One allocation of the exact size (libstdc++, the only library the project builds with).
  EXPECT_EQ(content->asString().capacity(), base64.size());
}

// Parsing a text it may consume gives the same tree, whether or not a large string takes the
// text's memory over, and leaves the text empty.
TEST(JsonParseConsuming, GivesTheSameTreeAsParsingABorrowedText) {
  const std::u16string big(200000, u'Q');
  const std::u16string other(150000, u'R');
  struct Case {
    const char* name;
    std::u16string text;
  };
  const Case cases[] = {
      {"member among others", u"{\"contentId\":\"1\",\"data\":{\"a\":1,\"contentFile\":\"" + big +
                                  u"\",\"z\":[true,\"x\",-0.3e1]}}"},
      {"the root", u"\"" + big + u"\""},
      {"a key", u"{\"" + big + u"\":null}"},
      {"an escape inside", u"[\"" + big + u"\\n" + big + u"\"]"},
      {"a tab inside", u"[\"" + big + u"\t\"]"},
      {"less than half of the text", u"[\"" + other + u"\",\"" + big + u"\"]"},
      {"two large strings", u"[\"" + big + u"\",\"" + other + u"\"]"},
      {"text after U+0000", u"\"" + big + u"\"" + std::u16string(1, u'\0') + u"garbage"},
      {"small", u"{\"a\":\"b\"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto borrowed = JsonValue::parse(c.text.c_str());
    ASSERT_NE(borrowed, nullptr);
    std::u16string text = c.text;
    auto consumed = JsonValue::parse(std::move(text));
    ASSERT_NE(consumed, nullptr);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(consumed->stringify(), borrowed->stringify());
  }
}

TEST(JsonParseConsuming, FailsLikeParsingABorrowedText) {
  const std::u16string big(200000, u'Q');
  for (const std::u16string& text :
       {u"{\"a\":\"" + big + u"\"", u"[\"" + big + u"\",]", u"\"" + big + u"\" x",
        u"{\"" + big + u"\"}", u"\"" + big}) {
    EXPECT_EQ(JsonValue::parse(text.c_str()), nullptr);
    EXPECT_EQ(JsonValue::parse(std::u16string(text)), nullptr);
  }
}

}  // namespace
