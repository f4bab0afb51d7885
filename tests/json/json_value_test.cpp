#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "json/json_value.h"
#include "tests/json/json_test_util.h"

namespace {

TEST(JsonValue, ATextLiteralIsAStringNeverABool) {
  EXPECT_TRUE(JsonValue(u"text").isString());
  static_assert(!std::is_constructible_v<JsonValue, const char*>);
  static_assert(!std::is_constructible_v<JsonValue, const JsonValue*>);
}

TEST(JsonValue, CopiesAreDeepEvenFromTheirOwnSubtree) {
  const std::u16string written = u"[{\"a\":[1,\"x\"]},{\"e\":\"\\u0000\\ud800\"},2.5]";
  auto source = parseText(written);
  ASSERT_NE(source, nullptr);
  auto copy = std::make_unique<JsonValue>(*source);
  EXPECT_NE(source->asArray()[0].get(), copy->asArray()[0].get());
  source.reset();
  EXPECT_EQ(copy->stringify(), written);
  JsonValue target;
  target = *copy;
  target = *target.asArray()[0];
  EXPECT_EQ(target.stringify(), u"{\"a\":[1,\"x\"]}");
}

TEST(JsonValue, ToleratesEmptySlotsInTablesItWasHanded) {
  JsonArray elements;
  elements.push_back(nullptr);
  JsonObject members;
  members[u"empty"] = nullptr;
  members[u"array"] = std::make_unique<JsonValue>(std::move(elements));
  JsonValue value(std::move(members));
  EXPECT_EQ(value.child(u"empty"), nullptr);
  EXPECT_EQ(JsonValue(value).stringify(), u"{\"array\":[null],\"empty\":null}");
}

}  // namespace
