#pragma once

#include <string>

#include "json/json_value.h"

// The data file a "getSignature" request names. Paths are UTF-16; an empty
// path means that there is no file.

// The folder content is staged into: the request's "workingDirectory"
// (created when missing) or the default one, ending in the separator. Empty
// when there is no default folder to use (logged).
std::u16string stagingDirectory(const JsonValue& request);

// Stages the request's "contentFile" into the request's "workingDirectory"
// (created when missing) or the default one. Empty when the request has no
// string "contentFile" (nothing is created) or staging failed.
std::u16string stageContentFile(const JsonValue& request);

// The path to sign: the request's "fileDataPath" when not empty (used as
// given, never removed), else the result of stageContentFile.
std::u16string dataFilePath(const JsonValue& request);
