#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

// The kind of a JsonValue. The numbers are part of the contract.
enum JsonType : std::int32_t {
  JsonType_Null = 0,
  JsonType_String = 1,
  JsonType_Bool = 2,
  JsonType_Number = 3,
  JsonType_Array = 4,
  JsonType_Object = 5,
};

class JsonValue;

// Where and why a parse failed: `offset` counts UTF-16 code units from the start of the text
// to the unit the parser could not take (the text's length when the text ended too soon);
// `reason` is a static ASCII text.
struct JsonParseFailure {
  std::size_t offset = 0;
  const char* reason = nullptr;
};

// Elements in document order. An Array value made from a table owns its elements.
using JsonArray = std::vector<std::unique_ptr<JsonValue>>;

// Members ascending by UTF-16 code units, compared as unsigned numbers, a prefix first
// ("Zeta" < "alpha", "data" < "dataX"). An Object value made from a table owns its members.
// Lookups may use a std::u16string_view key, so reading a member allocates nothing.
using JsonObject = std::map<std::u16string, std::unique_ptr<JsonValue>, std::less<>>;

// One node of a JSON document whose text is UTF-16 (any code unit, U+0000 and unpaired
// surrogates included; nothing is validated). A value owns its whole subtree and its kind never
// changes. The library keeps no global state.
class JsonValue {
 public:
  JsonValue();  // Null
  explicit JsonValue(bool value);
  explicit JsonValue(double value);
  // Integers are held as doubles; a 32-bit provider handle is held exactly.
  template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer> &&
                                                          !std::is_same_v<Integer, bool>>>
  explicit JsonValue(Integer value) : JsonValue(static_cast<double>(value)) {}
  explicit JsonValue(const std::u16string& text);
  explicit JsonValue(std::u16string&& text);  // takes the text over, no copy
  explicit JsonValue(const char16_t* text);   // NUL-terminated (nullptr: empty); never a Bool
  // Any other pointer would silently become a Bool.
  template <typename Pointee,
            typename = std::enable_if_t<!std::is_same_v<std::remove_cv_t<Pointee>, char16_t>>>
  JsonValue(Pointee*) = delete;
  explicit JsonValue(JsonArray&& elements);  // takes the elements over
  explicit JsonValue(JsonObject&& members);  // takes the members over

  // Deep copy: the copy shares nothing with its source. An empty element or member slot is
  // copied as an empty slot.
  JsonValue(const JsonValue& other);
  JsonValue& operator=(const JsonValue& other);
  JsonValue(JsonValue&&) noexcept = default;
  JsonValue& operator=(JsonValue&&) noexcept = default;
  ~JsonValue();

  JsonType type() const { return static_cast<JsonType>(payload_.index()); }
  bool isNull() const { return type() == JsonType_Null; }
  bool isBool() const { return type() == JsonType_Bool; }
  bool isString() const { return type() == JsonType_String; }
  bool isNumber() const { return type() == JsonType_Number; }
  bool isArray() const { return type() == JsonType_Array; }
  bool isObject() const { return type() == JsonType_Object; }

  // Accessors: the caller tests the kind first; another kind throws std::bad_variant_access.
  const std::u16string& asString() const { return std::get<std::u16string>(payload_); }
  double asNumber() const { return std::get<double>(payload_); }
  bool asBool() const { return std::get<bool>(payload_); }
  const JsonArray& asArray() const { return std::get<JsonArray>(payload_); }
  const JsonObject& asObject() const { return std::get<JsonObject>(payload_); }

  // The member whose key equals name code unit by code unit (NUL-terminated form: the key up to
  // its first U+0000), or nullptr when absent, when the slot is empty or when this is no Object.
  // Borrowed: the tree keeps ownership. Never inserts.
  const JsonValue* child(const char16_t* name) const;
  const JsonValue* child(std::u16string_view name) const;

  // Moves the members out of an Object value, which stays an empty Object; an empty table for
  // any other kind. Lets the owner of a tree reuse its members instead of copying them.
  JsonObject takeObject();

  // Copies of the keys in key order; empty for a value that is not an Object.
  std::vector<std::u16string> objectKeys() const;

  // Parses one complete JSON value from NUL-terminated UTF-16 text. Returns a tree the
  // caller owns, or nullptr on any failure (never a partial tree), including nesting deeper than
  // kMaxNestingDepth. Only allocation failure throws (std::bad_alloc).
  static std::unique_ptr<JsonValue> parse(const char16_t* text);
  // The same result for the text up to its first U+0000, consuming the text: a large string
  // that fills most of it reuses its memory instead of being copied. The text is left empty.
  static std::unique_ptr<JsonValue> parse(std::u16string&& text);
  // The same results; on failure `failure` says where and why.
  static std::unique_ptr<JsonValue> parse(const char16_t* text, JsonParseFailure& failure);
  static std::unique_ptr<JsonValue> parse(std::u16string&& text, JsonParseFailure& failure);

  // Containers nested this deep parse; one level more fails. The root container is level 1, so
  // 512 '[' followed by 512 ']' parse and 513 of each fail.
  static constexpr int kMaxNestingDepth = 512;

  // Compact JSON text of this value as UTF-16: members in key
  // order, numbers with 15 significant digits (NaN and infinities as null), control units and
  // unpaired surrogates escaped. stringify sizes the result once; stringifyTo appends to out.
  std::u16string stringify() const;
  void stringifyTo(std::u16string& out) const;
  // text as a JSON string literal: quotation marks around it, escapes inside.
  static std::u16string stringifyString(const std::u16string& text);

 private:
  // The alternatives are in JsonType order, so the variant's index is the kind.
  using Payload = std::variant<std::monostate, std::u16string, bool, double, JsonArray, JsonObject>;

  Payload payload_;
};
