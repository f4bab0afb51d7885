#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/json_value.h"

// Readers of a request (a JSON object). None fails: a member that is missing
// or of another kind yields the default (empty text, 0, false). Texts are
// UTF-16 copies; the request is never changed.

// The members of the request's "data" object, borrowed from the request (do
// not keep them beyond it); an empty object when "data" is missing or not an
// object.
const JsonObject& getData(const JsonValue& request);

// A member of the data object when present, nullptr otherwise (borrowed).
const JsonValue* findDataMember(const JsonValue& request, std::u16string_view name);

std::u16string getContentId(const JsonValue& request);
std::u16string getRequestAction(const JsonValue& request);
std::u16string getContainerName(const JsonValue& request);
std::u16string getWorkingDirectory(const JsonValue& request);
std::u16string getFileDataPath(const JsonValue& request);

// True when "handleProvider" is present in the data object and is a number.
bool hasHandleProvider(const JsonValue& request);

// "handleProvider" truncated toward zero to a signed 64-bit integer, of which
// the low 32 bits are the handle; 0 when missing, not a number, not finite
// or outside the 64-bit range.
std::uint32_t getHandleProvider(const JsonValue& request);
