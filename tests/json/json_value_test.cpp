#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "json/json_value.h"
#include "tests/json/json_test_util.h"

namespace {

using Keys = std::vector<std::u16string>;


TEST(JsonValue, ConstructsEachKindWithItsPayload) {
  EXPECT_EQ(JsonValue().type(), JsonType_Null);
  EXPECT_TRUE(JsonValue().isNull());
  EXPECT_EQ(JsonValue(true).type(), JsonType_Bool);
  EXPECT_TRUE(JsonValue(false).isBool());
  EXPECT_FALSE(JsonValue(false).asBool());
  EXPECT_EQ(JsonValue(2.5).type(), JsonType_Number);
  EXPECT_EQ(JsonValue(2.5).asNumber(), 2.5);
  EXPECT_EQ(JsonValue(std::u16string(u"x")).type(), JsonType_String);
  EXPECT_EQ(JsonValue(JsonArray()).type(), JsonType_Array);
  EXPECT_EQ(JsonValue(JsonObject()).type(), JsonType_Object);
  // A text literal is a String, never a Bool (a pointer would otherwise convert to bool).
  EXPECT_TRUE(JsonValue(u"text").isString());
  EXPECT_EQ(JsonValue(u"text").asString(), u"text");
  static_assert(!std::is_constructible_v<JsonValue, const char*>);
  static_assert(!std::is_constructible_v<JsonValue, const JsonValue*>);
}

TEST(JsonValue, TakesOverAMovedStringWithoutCopyingIt) {
  std::u16string text(100000, u'A');
  const char16_t* const storage = text.data();
  JsonValue value(std::move(text));
  EXPECT_EQ(value.asString().data(), storage);
}

TEST(JsonValue, FindsAChildByExactKeyOnly) {
  auto request = parseText(u"{\"data\":{\"requestAction\":\"getCertificate\"},\"contentId\":\"7\","
                           u"\"\":1,\"a\\u0000b\":2}");
  ASSERT_NE(request, nullptr);
  struct LookupCase {
    std::u16string name;
    bool found;
  };
  const std::vector<LookupCase> cases = {
      {u"data", true},       {u"contentId", true}, {u"", true},
      {u"Data", false},      {u"dat", false},      {u"dataX", false},
      {u"requestAction", false},  // members of nested objects are not found
      {std::u16string(u"a\0b", 3), true},
      {u"a", false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(::testing::PrintToString(testCase.name));
    EXPECT_EQ(request->child(testCase.name) != nullptr, testCase.found);
    EXPECT_EQ(request->asObject().size(), 4u);  // never inserts
  }
  EXPECT_EQ(request->child(u"contentId")->asString(), u"7");
  EXPECT_EQ(request->child(u"data")->child(u"requestAction")->asString(), u"getCertificate");
  // The NUL-terminated form ends the name at its first U+0000.
  EXPECT_EQ(request->child(static_cast<const char16_t*>(u"data")), request->child(u"data"));
  EXPECT_EQ(request->child(static_cast<const char16_t*>(nullptr)), nullptr);
}

TEST(JsonValue, DeepCopySharesNothingWithItsSource) {
  const std::u16string text =
      u"[{\"a\":[1,\"x\"],\"b\":{\"c\":null}},{\"d\":true,\"e\":\"\\u0000\\ud800\"},2.5,\"s\"]";
  const std::u16string written =
      u"[{\"a\":[1,\"x\"],\"b\":{\"c\":null}},{\"d\":true,\"e\":\"\\u0000\\ud800\"},2.5,\"s\"]";

  auto source = parseText(text);
  ASSERT_NE(source, nullptr);
  auto copy = std::make_unique<JsonValue>(*source);
  EXPECT_EQ(copy->stringify(), written);
  for (std::size_t i = 0; i < source->asArray().size(); ++i) {
    EXPECT_NE(source->asArray()[i].get(), copy->asArray()[i].get());
  }
  EXPECT_NE(source->asArray()[0]->child(u"a"), copy->asArray()[0]->child(u"a"));

  copy.reset();  // destroying the copy leaves the source intact
  EXPECT_EQ(source->stringify(), written);

  auto second = std::make_unique<JsonValue>(*source);
  source.reset();  // destroying the source leaves the copy intact
  EXPECT_EQ(second->stringify(), written);
}

TEST(JsonValue, CopyAssignmentIsDeepEvenFromItsOwnSubtree) {
  auto tree = parseText(u"{\"inner\":{\"k\":[1,2]},\"x\":0}");
  ASSERT_NE(tree, nullptr);
  JsonValue target;
  target = *tree;
  tree.reset();
  EXPECT_EQ(target.stringify(), u"{\"inner\":{\"k\":[1,2]},\"x\":0}");
  target = *target.child(u"inner");
  EXPECT_EQ(target.stringify(), u"{\"k\":[1,2]}");
}

TEST(JsonValue, OwnsTheMembersOfATableHandedToIt) {
  JsonObject table;
  table[u"b"] = std::make_unique<JsonValue>(u"second");
  table[u"a"] = std::make_unique<JsonValue>(1.0);
  const JsonValue* member = table[u"b"].get();
  auto object = std::make_unique<JsonValue>(std::move(table));
  table.clear();  // the caller's table is discarded; the members live on in the value
  EXPECT_EQ(object->child(u"b"), member);
  EXPECT_EQ(object->stringify(), u"{\"a\":1,\"b\":\"second\"}");

  JsonArray elements;
  elements.push_back(std::make_unique<JsonValue>(true));
  elements.push_back(std::move(object));
  JsonValue array(std::move(elements));
  EXPECT_EQ(array.stringify(), u"[true,{\"a\":1,\"b\":\"second\"}]");
}

TEST(JsonValue, ToleratesEmptySlotsInTablesItWasHanded) {
  JsonArray elements;
  elements.push_back(nullptr);
  JsonObject members;
  members[u"empty"] = nullptr;
  members[u"array"] = std::make_unique<JsonValue>(std::move(elements));
  JsonValue value(std::move(members));
  EXPECT_EQ(value.child(u"empty"), nullptr);
  const JsonValue copy(value);
  EXPECT_EQ(copy.stringify(), u"{\"array\":[null],\"empty\":null}");
}

}  // namespace
