#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "json/extended_range_double.h"
#include "json/json_value.h"
#include "json/text_scan.h"

namespace {

// Exponent steps beyond which the result no longer changes: a nonzero stored double lies within
// [2^-1074, 2^1024), which 632 steps of ten carry past either end of the double range, so after
// this many steps the value is certainly infinity (multiplying) or zero (dividing). Counting every
// step, however many digits the exponent had, could take forever.
constexpr unsigned kExponentStepLimit = 1000;

// While the fraction weight is at least this, every term and partial sum of the fraction is a
// normal double, so plain double arithmetic gives every step's 53-bit rounding exactly.
constexpr double kPlainFractionWeight = 0x1p-1000;

// Below this weight no further digit can change the stored value (a term is under half an ulp of
// any sum that survives the rounding to double, and a sum this small stores as zero).
constexpr int kNegligibleWeightExponent = -1200;

constexpr const char* kEndOfText = "unexpected end of text";

bool isDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

int digitValue(char16_t unit) { return unit - u'0'; }

int hexDigitValue(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
  return -1;
}

// The integer part plus the fraction, rounded to 53 bits and stored as a double. A fraction below
// the normal range cannot change a nonzero integer part.
double addFraction(double integerPart, ExtendedRangeDouble fraction) {
  if (integerPart == 0.0) {
    return fraction.toDouble();
  }
  return fraction.exponent() >= -1021 ? integerPart + fraction.toDouble() : integerPart;
}

// Multiplies (or divides) the stored value by ten, one rounded step at a time in the wide
// exponent range, and stores the result. Zero and infinity stay as they are under any number of
// steps.
double applyExponent(double value, unsigned steps, bool divide) {
  if (steps == 0 || value == 0.0 || value == std::numeric_limits<double>::infinity()) {
    return value;
  }
  ExtendedRangeDouble scaled = ExtendedRangeDouble::fromDouble(value);
  for (unsigned step = 0; step < steps; ++step) {
    if (divide) {
      scaled.divideByTen();
    } else {
      scaled.multiplyBy(10.0);
    }
  }
  return scaled.toDouble();
}

// The recursive-descent reader, one function per rule. It borrows the text; every
// step moves cursor_ past what it consumed, and a failed step leaves it wherever it stopped.
class JsonReader {
 public:
  explicit JsonReader(const char16_t* text) : cursor_(text), origin_(text) {}
  // Reads `text` and may take its memory over for one large string, leaving it empty.
  explicit JsonReader(std::u16string& text)
      : cursor_(text.c_str()), origin_(cursor_), spare_(&text) {}

  std::unique_ptr<JsonValue> parseDocument();
  const JsonParseFailure& failure() const { return failure_; }

 private:
  void fail(const char* reason, const char16_t* at);
  void fail(const char* reason) { fail(reason, cursor_); }
  bool skipWhitespace();
  std::unique_ptr<JsonValue> parseValue();
  std::unique_ptr<JsonValue> parseContainer();
  bool matchLiteral(const char* lowerCaseWord, int length);
  std::unique_ptr<JsonValue> parseNumber();
  double parseInt();
  ExtendedRangeDouble parseDecimal();
  void skipNegligibleDigits();
  unsigned parseExponentSteps();
  bool extractString(std::u16string& out);
  void takeOverText(const char16_t* run, std::size_t length, std::u16string& out);
  bool readEscape(std::u16string& out);
  std::unique_ptr<JsonValue> parseArray();
  std::unique_ptr<JsonValue> parseObject();

  const char16_t* cursor_;
  // The text's offset of origin_, which moves when a string takes the text over.
  const char16_t* origin_;
  std::size_t originOffset_ = 0;
  JsonParseFailure failure_;
  int depth_ = 0;
  std::u16string* spare_ = nullptr;  // the text, while its memory may still be taken over
  std::u16string rest_;              // what follows a string that took the text's memory
};

// A string this long that fills most of the text reuses the text's memory instead of a copy:
// a 64 MiB request's content member would otherwise double the request's memory while parsing.
constexpr std::size_t kTakeOverUnits = 64 * 1024;

// The innermost step that fails records first; the steps it returns through keep that.
void JsonReader::fail(const char* reason, const char16_t* at) {
  if (failure_.reason != nullptr) {
    return;
  }
  failure_.offset = originOffset_ + static_cast<std::size_t>(at - origin_);
  failure_.reason = *at == 0 ? kEndOfText : reason;
}

std::unique_ptr<JsonValue> JsonReader::parseDocument() {
  if (!skipWhitespace()) {
    fail(kEndOfText);
    return nullptr;
  }
  auto value = parseValue();
  if (!value) {
    return nullptr;
  }
  if (skipWhitespace()) {
    fail("text after the value");
    return nullptr;
  }
  return value;
}

// True when the cursor then stands on a unit other than U+0000.
bool JsonReader::skipWhitespace() {
  while (*cursor_ == u' ' || *cursor_ == u'\t' || *cursor_ == u'\n' || *cursor_ == u'\r') {
    ++cursor_;
  }
  return *cursor_ != 0;
}

std::unique_ptr<JsonValue> JsonReader::parseValue() {
  const char16_t unit = *cursor_;
  if (unit == u'"') {
    ++cursor_;
    std::u16string text;
    if (!extractString(text)) {
      return nullptr;
    }
    return std::make_unique<JsonValue>(std::move(text));
  }
  if (matchLiteral("true", 4)) return std::make_unique<JsonValue>(true);
  if (matchLiteral("false", 5)) return std::make_unique<JsonValue>(false);
  if (matchLiteral("null", 4)) return std::make_unique<JsonValue>();
  if (unit == u'-' || isDigit(unit)) return parseNumber();
  if (unit == u'{' || unit == u'[') return parseContainer();
  fail("no value starts with this character");
  return nullptr;
}

// Each level costs one level of recursion, so the depth is bounded.
std::unique_ptr<JsonValue> JsonReader::parseContainer() {
  if (depth_ == JsonValue::kMaxNestingDepth) {
    fail("nesting deeper than 512 levels");
    return nullptr;
  }
  ++depth_;
  auto container = *cursor_ == u'[' ? parseArray() : parseObject();
  --depth_;
  return container;
}

// Case-blind for ASCII letters: unit | 0x20 equals a lower-case letter only for that letter in
// either case. A mismatch (U+0000 included) stops the comparison, so it never reads past the end.
bool JsonReader::matchLiteral(const char* lowerCaseWord, int length) {
  for (int i = 0; i < length; ++i) {
    if ((cursor_[i] | 0x20) != lowerCaseWord[i]) {
      return false;
    }
  }
  cursor_ += length;
  return true;
}

std::unique_ptr<JsonValue> JsonReader::parseNumber() {
  const bool negative = *cursor_ == u'-';
  if (negative) {
    ++cursor_;
  }
  double value = 0.0;
  if (*cursor_ == u'0') {
    ++cursor_;
  } else if (isDigit(*cursor_)) {
    value = parseInt();
  } else {
    fail("digit expected");
    return nullptr;
  }
  if (*cursor_ == u'.') {
    ++cursor_;
    if (!isDigit(*cursor_)) {
      fail("digit expected after the decimal point");
      return nullptr;
    }
    value = addFraction(value, parseDecimal());
  }
  if (*cursor_ == u'e' || *cursor_ == u'E') {
    ++cursor_;
    const bool divide = *cursor_ == u'-';
    if (*cursor_ == u'-' || *cursor_ == u'+') {
      ++cursor_;
    }
    if (!isDigit(*cursor_)) {
      fail("digit expected in the exponent");
      return nullptr;
    }
    value = applyExponent(value, parseExponentSteps(), divide);
  }
  return std::make_unique<JsonValue>(negative ? value * -1.0 : value);
}

// sum = sum * 10 + digit, each step rounded to 53 bits. Done in doubles the sum becomes infinity
// exactly where a wide-range sum would store as infinity: it only grows, and anything past 2^1024
// stores as infinity.
double JsonReader::parseInt() {
  double sum = 0.0;
  while (isDigit(*cursor_)) {
    sum = sum * 10.0 + digitValue(*cursor_);
    ++cursor_;
  }
  return sum;
}

// sum += d * weight; weight *= 0.1, each step rounded to 53 bits with an exponent range wide
// enough that no step underflows (ExtendedRangeDouble).
ExtendedRangeDouble JsonReader::parseDecimal() {
  double plainSum = 0.0;
  double plainWeight = 0.1;
  while (isDigit(*cursor_) && plainWeight >= kPlainFractionWeight) {
    plainSum += digitValue(*cursor_) * plainWeight;
    plainWeight *= 0.1;
    ++cursor_;
  }
  ExtendedRangeDouble sum = ExtendedRangeDouble::fromDouble(plainSum);
  ExtendedRangeDouble weight = ExtendedRangeDouble::fromDouble(plainWeight);
  while (isDigit(*cursor_)) {
    if (weight.exponent() < kNegligibleWeightExponent) {
      skipNegligibleDigits();
      break;
    }
    const int digit = digitValue(*cursor_);
    if (digit != 0) {
      ExtendedRangeDouble term = weight;
      term.multiplyBy(digit);
      sum.add(term);
    }
    weight.multiplyBy(0.1);
    ++cursor_;
  }
  return sum;
}

void JsonReader::skipNegligibleDigits() {
  while (isDigit(*cursor_)) {
    ++cursor_;
  }
}

// The exponent's digits, however many, as a step count that saturates at kExponentStepLimit.
unsigned JsonReader::parseExponentSteps() {
  unsigned steps = 0;
  while (isDigit(*cursor_)) {
    steps = steps * 10 + static_cast<unsigned>(digitValue(*cursor_));
    if (steps > kExponentStepLimit) {
      steps = kExponentStepLimit;
    }
    ++cursor_;
  }
  return steps;
}

// The cursor stands just after the opening quotation mark. Plain units are appended in runs, so
// a large member is copied once into a buffer of its own size.
bool JsonReader::extractString(std::u16string& out) {
  out.clear();
  for (bool first = true;; first = false) {
    const char16_t* run = cursor_;
    cursor_ = findStringDelimiter(cursor_);
    const auto length = static_cast<std::size_t>(cursor_ - run);
    if (first && *cursor_ == u'"' && spare_ != nullptr && length >= kTakeOverUnits &&
        length >= spare_->size() / 2) {
      takeOverText(run, length, out);
      return true;
    }
    out.append(run, length);
    const char16_t unit = *cursor_;
    if (unit == u'"') {
      ++cursor_;
      return true;
    }
    if (unit == u'\\') {
      if (!readEscape(out)) {
        return false;
      }
    } else if (unit == u'\t') {
      out.push_back(unit);
      ++cursor_;
    } else {
      fail("control character in a string");  // or the end of the text
      return false;
    }
  }
}

// The string [run, run + length) has no escapes and the cursor stands on its closing quotation
// mark. What follows it moves to a buffer of its own, the string moves to the front of the text's
// buffer, and that buffer becomes the string. Happens once: the cursor then reads rest_.
void JsonReader::takeOverText(const char16_t* run, std::size_t length, std::u16string& out) {
  std::u16string& text = *spare_;
  spare_ = nullptr;
  const char16_t* const afterQuote = cursor_ + 1;
  originOffset_ = static_cast<std::size_t>(afterQuote - text.data());
  rest_.assign(afterQuote, static_cast<std::size_t>(text.data() + text.size() - afterQuote));
  text.erase(0, static_cast<std::size_t>(run - text.data()));
  text.resize(length);
  out = std::move(text);
  text.clear();
  cursor_ = rest_.c_str();
  origin_ = cursor_;
}

// The cursor stands on the backslash; each escape adds exactly one code unit.
bool JsonReader::readEscape(std::u16string& out) {
  ++cursor_;
  char16_t unit = 0;
  switch (*cursor_) {
    case u'"':
      unit = u'"';
      break;
    case u'\\':
      unit = u'\\';
      break;
    case u'/':
      unit = u'/';
      break;
    case u'b':
      unit = u'\b';
      break;
    case u'f':
      unit = u'\f';
      break;
    case u'n':
      unit = u'\n';
      break;
    case u'r':
      unit = u'\r';
      break;
    case u't':
      unit = u'\t';
      break;
    case u'u':
      // A non-hex unit, U+0000 included, stops the loop before anything beyond it is read.
      for (int i = 1; i <= 4; ++i) {
        const int nibble = hexDigitValue(cursor_[i]);
        if (nibble < 0) {
          fail("four hex digits expected", cursor_ + i);
          return false;
        }
        unit = static_cast<char16_t>(unit << 4 | nibble);
      }
      cursor_ += 4;
      break;
    default:
      fail("no such escape");
      return false;
  }
  out.push_back(unit);
  ++cursor_;
  return true;
}

std::unique_ptr<JsonValue> JsonReader::parseArray() {
  ++cursor_;
  JsonArray elements;
  if (!skipWhitespace()) {
    fail(kEndOfText);
    return nullptr;
  }
  if (*cursor_ == u']') {
    ++cursor_;
    return std::make_unique<JsonValue>(std::move(elements));
  }
  for (;;) {
    auto element = parseValue();
    if (!element) {
      return nullptr;
    }
    elements.push_back(std::move(element));
    if (!skipWhitespace()) {
      fail(kEndOfText);
      return nullptr;
    }
    const char16_t separator = *cursor_++;
    if (separator == u']') {
      return std::make_unique<JsonValue>(std::move(elements));
    }
    if (separator != u',') {
      fail("',' or ']' expected", cursor_ - 1);
      return nullptr;
    }
    if (!skipWhitespace()) {
      fail(kEndOfText);
      return nullptr;
    }
  }
}

std::unique_ptr<JsonValue> JsonReader::parseObject() {
  ++cursor_;
  JsonObject members;
  if (!skipWhitespace()) {
    fail(kEndOfText);
    return nullptr;
  }
  if (*cursor_ == u'}') {
    ++cursor_;
    return std::make_unique<JsonValue>(std::move(members));
  }
  for (;;) {
    if (*cursor_ != u'"') {
      fail("member name expected");
      return nullptr;
    }
    ++cursor_;
    std::u16string key;
    if (!extractString(key)) {
      return nullptr;
    }
    if (!skipWhitespace() || *cursor_ != u':') {
      fail("':' expected");
      return nullptr;
    }
    ++cursor_;
    if (!skipWhitespace()) {
      fail(kEndOfText);
      return nullptr;
    }
    auto value = parseValue();
    if (!value) {
      return nullptr;
    }
    // The last occurrence of a key wins; the earlier value is destroyed here.
    members.insert_or_assign(std::move(key), std::move(value));
    if (!skipWhitespace()) {
      fail(kEndOfText);
      return nullptr;
    }
    const char16_t separator = *cursor_++;
    if (separator == u'}') {
      return std::make_unique<JsonValue>(std::move(members));
    }
    if (separator != u',') {
      fail("',' or '}' expected", cursor_ - 1);
      return nullptr;
    }
    if (!skipWhitespace()) {
      fail(kEndOfText);
      return nullptr;
    }
  }
}

}  // namespace

std::unique_ptr<JsonValue> JsonValue::parse(const char16_t* text) {
  JsonParseFailure ignored;
  return parse(text, ignored);
}

std::unique_ptr<JsonValue> JsonValue::parse(std::u16string&& text) {
  JsonParseFailure ignored;
  return parse(std::move(text), ignored);
}

std::unique_ptr<JsonValue> JsonValue::parse(const char16_t* text, JsonParseFailure& failure) {
  if (!text) {
    failure = {0, "no text"};
    return nullptr;
  }
  JsonReader reader(text);
  auto value = reader.parseDocument();
  failure = reader.failure();
  return value;
}

std::unique_ptr<JsonValue> JsonValue::parse(std::u16string&& text, JsonParseFailure& failure) {
  JsonReader reader(text);
  auto value = reader.parseDocument();
  failure = reader.failure();
  std::u16string().swap(text);  // consumed, whether or not a string took its memory
  return value;
}
