#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>

#include "json/json_value.h"
#include "json/number_text.h"
#include "json/text_scan.h"

namespace {

// The serializer walks the tree twice with the same code: once into a LengthSink to size the
// result, once into a TextSink that appends. So the text is allocated once, even for a member of
// many megabytes.
//
// TextSink gathers escapes, punctuation and short runs in a small buffer of its own and hands the
// string one append per buffer; a run longer than the buffer goes straight into the string.
class TextSink {
 public:
  // buffer_ is left uninitialised on purpose: only the used_ units are ever read.
  // cppcheck-suppress uninitMemberVar
  explicit TextSink(std::u16string& out) : out_(out) {}
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;

  void put(char16_t unit) {
    if (used_ == kBufferUnits) flush();
    buffer_[used_++] = unit;
  }
  void append(const char16_t* units, std::size_t count) {
    if (count > kBufferUnits - used_) {
      flush();
      if (count > kBufferUnits) {
        out_.append(units, count);
        return;
      }
    }
    std::memcpy(buffer_ + used_, units, count * sizeof(char16_t));
    used_ += count;
  }
  void putNumber(double value) {
    if (kBufferUnits - used_ < kMaxNumberTextLength) flush();
    used_ += formatNumber(value, buffer_ + used_);
  }
  // Hands over what the buffer still holds; the text is complete only after this.
  void flush() {
    out_.append(buffer_, used_);
    used_ = 0;
  }

 private:
  static constexpr std::size_t kBufferUnits = 2048;

  std::u16string& out_;
  std::size_t used_ = 0;
  char16_t buffer_[kBufferUnits];
};

// Counts exactly, except that every number counts as its longest possible text.
class LengthSink {
 public:
  void put(char16_t) { ++length_; }
  void append(const char16_t*, std::size_t count) { length_ += count; }
  void putNumber(double) { length_ += kMaxNumberTextLength; }
  void add(std::size_t units) { length_ += units; }
  std::size_t length() const { return length_; }

 private:
  std::size_t length_ = 0;
};

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

template <typename Sink>
void writeUnicodeEscape(char16_t unit, Sink& sink) {
  static constexpr char16_t kHexDigits[] = u"0123456789abcdef";
  const char16_t escape[6] = {u'\\',
                              u'u',
                              kHexDigits[unit >> 12],
                              kHexDigits[(unit >> 8) & 15],
                              kHexDigits[(unit >> 4) & 15],
                              kHexDigits[unit & 15]};
  sink.append(escape, 6);
}

// Writes the unit at p that findEscapeCandidate stopped on; returns the units consumed.
template <typename Sink>
std::size_t writeEscapeCandidate(const char16_t* p, const char16_t* end, Sink& sink) {
  switch (*p) {
    case u'"':
      sink.append(u"\\\"", 2);
      return 1;
    case u'\\':
      sink.append(u"\\\\", 2);
      return 1;
    case u'/':
      sink.append(u"\\/", 2);
      return 1;
    case u'\b':
      sink.append(u"\\b", 2);
      return 1;
    case u'\f':
      sink.append(u"\\f", 2);
      return 1;
    case u'\n':
      sink.append(u"\\n", 2);
      return 1;
    case u'\r':
      sink.append(u"\\r", 2);
      return 1;
    case u'\t':
      sink.append(u"\\t", 2);
      return 1;
    default:
      break;
  }
  if (isHighSurrogate(*p) && end - p >= 2 && isLowSurrogate(p[1])) {
    sink.append(p, 2);  // a valid pair stays as it is
    return 2;
  }
  // The other control units and unpaired surrogates, so the answer stays valid
  // JSON and can be written as UTF-8.
  writeUnicodeEscape(*p, sink);
  return 1;
}

template <typename Sink>
void writeString(const std::u16string& text, Sink& sink) {
  sink.put(u'"');
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  for (;;) {
    const char16_t* const run = p;
    p = findEscapeCandidate(p, end);
    sink.append(run, static_cast<std::size_t>(p - run));
    if (p == end) {
      break;
    }
    p += writeEscapeCandidate(p, end, sink);
  }
  sink.put(u'"');
}

// The size estimate takes strings as they are: scanning them for escapes
// would cost as much as writing them. stringify leaves room for escapes.
void writeString(const std::u16string& text, LengthSink& sink) { sink.add(text.size() + 2); }

template <typename Sink>
void writeValue(const JsonValue* value, Sink& sink);

template <typename Sink>
void writeArray(const JsonArray& elements, Sink& sink) {
  sink.put(u'[');
  bool first = true;
  for (const auto& element : elements) {
    if (!first) sink.put(u',');
    first = false;
    writeValue(element.get(), sink);
  }
  sink.put(u']');
}

template <typename Sink>
void writeObject(const JsonObject& members, Sink& sink) {
  sink.put(u'{');
  bool first = true;
  for (const auto& [key, member] : members) {
    if (!first) sink.put(u',');
    first = false;
    writeString(key, sink);
    sink.put(u':');
    writeValue(member.get(), sink);
  }
  sink.put(u'}');
}

// An empty element or member slot (never made by the parser) is written as null.
template <typename Sink>
void writeValue(const JsonValue* value, Sink& sink) {
  if (!value) {
    sink.append(u"null", 4);
    return;
  }
  switch (value->type()) {
    case JsonType_Null:
      sink.append(u"null", 4);
      break;
    case JsonType_Bool:
      value->asBool() ? sink.append(u"true", 4) : sink.append(u"false", 5);
      break;
    case JsonType_Number:
      if (std::isfinite(value->asNumber())) {
        sink.putNumber(value->asNumber());
      } else {
        sink.append(u"null", 4);  // NaN and the infinities
      }
      break;
    case JsonType_String:
      writeString(value->asString(), sink);
      break;
    case JsonType_Array:
      writeArray(value->asArray(), sink);
      break;
    case JsonType_Object:
      writeObject(value->asObject(), sink);
      break;
  }
}

}  // namespace

std::u16string JsonValue::stringify() const {
  LengthSink length;
  writeValue(this, length);
  std::u16string out;
  // Escapes are rare in answers (Base64 has its '/' as "\/"); an eighth more
  // room covers them, and a text that needs still more grows once.
  out.reserve(length.length() + length.length() / 8);
  stringifyTo(out);
  return out;
}

void JsonValue::stringifyTo(std::u16string& out) const {
  TextSink sink(out);
  writeValue(this, sink);
  sink.flush();
}

std::u16string JsonValue::stringifyString(const std::u16string& text) {
  std::u16string out;
  out.reserve(escapedLength(text.data(), text.data() + text.size()) + 2);
  TextSink sink(out);
  writeString(text, sink);
  sink.flush();
  return out;
}
