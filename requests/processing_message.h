#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "json/json_value.h"
#include "requests/staged_content.h"

// The largest answer a browser accepts, in UTF-8 bytes.
inline constexpr std::size_t kMaxAnswerBytes = 1048576;

// Turns one request text (UTF-16 JSON) into its answer text (UTF-16 JSON).
// Empty when the text is not JSON or its root is not an object: such a
// message gets no answer. Takes the text by value so its memory can be
// released as soon as it is parsed. Throws only what allocation throws;
// data files staged for the request are removed even then, and so is a
// staged file whose "stageContent" answer is not given.
std::u16string processingMessage(std::u16string message);

// Carries out the request's action and fills the outcome: `result` is
// "success" or "error", `description` says why on error; `staged` names the
// staged file a successful "stageContent" leaves.
void processingMessage(const JsonValue& request, std::u16string& result,
                       std::u16string& description, std::u16string& signature,
                       std::u16string& certificate, std::uint32_t& handle, StagedProgress& staged);

// The answer text: the request's "contentId", its "data" members except
// "contentFile" and the outcome members over them. The members are moved out
// of `request`, which is left empty. An answer longer than kMaxAnswerBytes in
// UTF-8 is replaced by a short error answer that says so.
std::u16string buildResponse(JsonValue& request, const std::u16string& result,
                             const std::u16string& description, const std::u16string& signature,
                             const std::u16string& certificate, std::uint32_t handle);
