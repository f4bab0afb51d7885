#include "json/json_value.h"

#include <utility>

static_assert(JsonType_Null == 0 && JsonType_String == 1 && JsonType_Bool == 2 &&
                  JsonType_Number == 3 && JsonType_Array == 4 && JsonType_Object == 5,
              "the payload alternatives follow the JsonType numbers");

namespace {

std::unique_ptr<JsonValue> copySlot(const std::unique_ptr<JsonValue>& slot) {
  return slot ? std::make_unique<JsonValue>(*slot) : nullptr;
}

JsonArray copyElements(const JsonArray& source) {
  JsonArray copy;
  copy.reserve(source.size());
  for (const auto& element : source) {
    copy.push_back(copySlot(element));
  }
  return copy;
}

JsonObject copyMembers(const JsonObject& source) {
  JsonObject copy;
  // The source is already in key order, so every insertion lands at the end in constant time.
  for (const auto& [key, value] : source) {
    copy.emplace_hint(copy.end(), key, copySlot(value));
  }
  return copy;
}

}  // namespace

JsonValue::JsonValue() = default;

JsonValue::JsonValue(bool value) : payload_(std::in_place_type<bool>, value) {}

JsonValue::JsonValue(double value) : payload_(std::in_place_type<double>, value) {}

JsonValue::JsonValue(const std::u16string& text)
    : payload_(std::in_place_type<std::u16string>, text) {}

JsonValue::JsonValue(std::u16string&& text)
    : payload_(std::in_place_type<std::u16string>, std::move(text)) {}

JsonValue::JsonValue(const char16_t* text)
    : payload_(std::in_place_type<std::u16string>, text ? text : u"") {}

JsonValue::JsonValue(JsonArray&& elements)
    : payload_(std::in_place_type<JsonArray>, std::move(elements)) {}

JsonValue::JsonValue(JsonObject&& members)
    : payload_(std::in_place_type<JsonObject>, std::move(members)) {}

JsonValue::JsonValue(const JsonValue& other) {
  switch (other.type()) {
    case JsonType_Null:
      break;
    case JsonType_String:
      payload_.emplace<std::u16string>(other.asString());
      break;
    case JsonType_Bool:
      payload_.emplace<bool>(other.asBool());
      break;
    case JsonType_Number:
      payload_.emplace<double>(other.asNumber());
      break;
    case JsonType_Array:
      payload_.emplace<JsonArray>(copyElements(other.asArray()));
      break;
    case JsonType_Object:
      payload_.emplace<JsonObject>(copyMembers(other.asObject()));
      break;
  }
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  // Copy first: other may live inside this value's own subtree.
  JsonValue copy(other);
  *this = std::move(copy);
  return *this;
}

JsonValue::~JsonValue() = default;

const JsonValue* JsonValue::child(const char16_t* name) const {
  return name ? child(std::u16string_view(name)) : nullptr;
}

const JsonValue* JsonValue::child(std::u16string_view name) const {
  const auto* members = std::get_if<JsonObject>(&payload_);
  if (!members) {
    return nullptr;
  }
  auto found = members->find(name);
  return found == members->end() ? nullptr : found->second.get();
}

JsonObject JsonValue::takeObject() {
  auto* members = std::get_if<JsonObject>(&payload_);
  return members != nullptr ? std::exchange(*members, JsonObject()) : JsonObject();
}

std::vector<std::u16string> JsonValue::objectKeys() const {
  std::vector<std::u16string> keys;
  if (const auto* members = std::get_if<JsonObject>(&payload_)) {
    keys.reserve(members->size());
    for (const auto& member : *members) {
      keys.push_back(member.first);
    }
  }
  return keys;
}
