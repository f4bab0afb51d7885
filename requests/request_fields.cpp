#include "requests/request_fields.h"

#include <cmath>

namespace {

std::u16string stringMember(const JsonValue* member) {
  return member != nullptr && member->isString() ? member->asString() : std::u16string();
}

}  // namespace

const JsonObject& getData(const JsonValue& request) {
  static const JsonObject kEmpty;
  const JsonValue* data = request.isObject() ? request.child(u"data") : nullptr;
  return data != nullptr && data->isObject() ? data->asObject() : kEmpty;
}

const JsonValue* findDataMember(const JsonValue& request, std::u16string_view name) {
  const JsonObject& data = getData(request);
  auto found = data.find(name);
  return found == data.end() ? nullptr : found->second.get();
}

std::u16string getContentId(const JsonValue& request) {
  return stringMember(request.isObject() ? request.child(u"contentId") : nullptr);
}

std::u16string getRequestAction(const JsonValue& request) {
  return stringMember(findDataMember(request, u"requestAction"));
}

std::u16string getContainerName(const JsonValue& request) {
  return stringMember(findDataMember(request, u"containerName"));
}

std::u16string getWorkingDirectory(const JsonValue& request) {
  return stringMember(findDataMember(request, u"workingDirectory"));
}

std::u16string getFileDataPath(const JsonValue& request) {
  return stringMember(findDataMember(request, u"fileDataPath"));
}

bool hasHandleProvider(const JsonValue& request) {
  const JsonValue* member = findDataMember(request, u"handleProvider");
  return member != nullptr && member->isNumber();
}

std::uint32_t getHandleProvider(const JsonValue& request) {
  const JsonValue* member = findDataMember(request, u"handleProvider");
  if (member == nullptr || !member->isNumber()) return 0;
  double value = std::trunc(member->asNumber());
  // Converting a double outside the target range is undefined; such values
  // (and NaN, which fails both tests) read as no handle.
  if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) return 0;
  auto whole = static_cast<std::int64_t>(value);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
}
