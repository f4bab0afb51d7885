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

JsonObject membersOf(std::vector<std::pair<std::u16string, JsonValue>> members) {
  JsonObject object;
  for (auto& [key, value] : members) {
    object[key] = std::make_unique<JsonValue>(std::move(value));
  }
  return object;
}

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
  // The numbers of the kinds are part of the contract.
  static_assert(JsonType_Null == 0 && JsonType_String == 1 && JsonType_Bool == 2 &&
                JsonType_Number == 3 && JsonType_Array == 4 && JsonType_Object == 5);
  static_assert(sizeof(JsonType) == 4);
}

TEST(JsonValue, HoldsTheLargestProviderHandleExactly) {
  const std::uint32_t handle = 4294967295u;
  EXPECT_EQ(JsonValue(handle).asNumber(), 4294967295.0);
  EXPECT_EQ(static_cast<std::uint32_t>(JsonValue(handle).asNumber()), handle);
  EXPECT_EQ(JsonValue(static_cast<double>(handle)).stringify(), u"4294967295");
}

TEST(JsonValue, TakesOverAMovedStringWithoutCopyingIt) {
  std::u16string text(100000, u'A');
  const char16_t* const storage = text.data();
  JsonValue value(std::move(text));
  EXPECT_EQ(value.asString().data(), storage);
}

TEST(JsonValue, IteratesKeysInCodeUnitOrder) {
  JsonValue object(membersOf({{u"b", JsonValue(1.0)},
                              {u"a", JsonValue(2.0)},
                              {u"B", JsonValue(3.0)},
                              {u"", JsonValue(4.0)},
                              {u"dataX", JsonValue(5.0)},
                              {u"data", JsonValue(6.0)},
                              {u"alpha", JsonValue(7.0)},
                              {u"Zeta", JsonValue(8.0)},
                              {u"\xD800", JsonValue(9.0)},
                              {u"\uFFFF", JsonValue(10.0)},
                              {u"\u00E9", JsonValue(11.0)}}));
  EXPECT_EQ(object.objectKeys(), (Keys{u"", u"B", u"Zeta", u"a", u"alpha", u"b", u"data",
                                       u"dataX", u"\u00E9", u"\xD800", u"\uFFFF"}));
  EXPECT_EQ(JsonValue(membersOf({{u"b", JsonValue()}, {u"a", JsonValue()}, {u"B", JsonValue()}}))
                .stringify(),
            u"{\"B\":null,\"a\":null,\"b\":null}");
}

TEST(JsonValue, ListsNoKeysForAnythingButANonEmptyObject) {
  JsonArray elements;
  elements.push_back(std::make_unique<JsonValue>(1.0));
  const std::vector<std::pair<const char*, JsonValue>> values = [&] {
    std::vector<std::pair<const char*, JsonValue>> list;
    list.emplace_back("null", JsonValue());
    list.emplace_back("bool", JsonValue(true));
    list.emplace_back("number", JsonValue(1.0));
    list.emplace_back("string", JsonValue(u"data"));
    list.emplace_back("array", JsonValue(std::move(elements)));
    list.emplace_back("empty object", JsonValue(JsonObject()));
    return list;
  }();
  for (const auto& [name, value] : values) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(value.objectKeys().empty());
    EXPECT_EQ(value.child(u"data"), nullptr);
  }
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

TEST(JsonValue, MovesLeaveTheSourceDestructible) {
  auto tree = parseText(u"{\"a\":[1,{\"b\":\"c\"}]}");
  ASSERT_NE(tree, nullptr);
  JsonValue moved(std::move(*tree));
  tree.reset();
  EXPECT_EQ(moved.stringify(), u"{\"a\":[1,{\"b\":\"c\"}]}");
}

}  // namespace
