#include "requests/processing_message.h"

#include <memory>
#include <utility>

#include "logging/log.h"
#include "platform/error_text.h"
#include "platform/file_system.h"
#include "requests/content_staging.h"
#include "requests/request_fields.h"
#include "requests/staged_content.h"
#include "signing/data_signed.h"
#include "text/text_convert.h"

namespace {

// Removes a data file staged for one request when the request is done,
// whatever happened while signing (an exception included).
class StagedFile {
 public:
  explicit StagedFile(std::u16string path) : path_(std::move(path)) {}
  ~StagedFile() {
    if (path_.empty()) return;
    if (!platform::removeFile(toPath(path_))) {
      const std::string cause = platform::lastErrorText();
      LOG_ERROR << u"Error delete file " << path_ << u": " << cause;
    }
  }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

 private:
  std::u16string path_;
};

const char16_t* outcomeText(bool succeeded) { return succeeded ? u"success" : u"error"; }

void signRequest(const JsonValue& request, std::u16string& result, std::u16string& description,
                 std::u16string& signature) {
  std::u16string containerName = getContainerName(request);
  const bool stagedBefore = hasStagedContent(request);
  std::u16string path =
      stagedBefore ? takeStagedContent(request, description) : dataFilePath(request);
  // Only a file staged for this request or before it is removed; a given
  // path never is.
  StagedFile staged(stagedBefore || getFileDataPath(request).empty() ? path : std::u16string());
  if (stagedBefore && path.empty()) {
    result = outcomeText(false);
    return;
  }
  std::uint32_t handle = getHandleProvider(request);
  bool useHandle = hasHandleProvider(request);
  result = outcomeText(
      vorna::DataSigned::signData(handle, containerName, path, useHandle, description, signature));
}

void setString(JsonObject& object, const char16_t* key, const std::u16string& value) {
  object[key] = std::make_unique<JsonValue>(value);
}

// The answer text: the echoed data members (already copied or moved out of
// the request, without "contentFile") with the outcome members over them.
std::u16string answerText(const std::u16string& contentId, const std::u16string& action,
                          JsonObject data, const std::u16string& result,
                          const std::u16string& description, const std::u16string& signature,
                          const std::u16string& certificate, std::uint32_t handle,
                          const StagedProgress& staged) {
  JsonObject root;
  if (!contentId.empty()) setString(root, u"contentId", contentId);
  if (!result.empty()) setString(data, u"result", result);
  if (!description.empty()) setString(data, u"description", description);
  if (!signature.empty()) setString(data, u"signature", signature);
  if (!certificate.empty()) setString(data, u"certificate", certificate);
  if (result == u"success" && action == u"openCryptoProvider") {
    data[u"handleProvider"] = std::make_unique<JsonValue>(static_cast<double>(handle));
  }
  if (!staged.name.empty()) {
    setString(data, u"stagedContent", staged.name);
    data[u"stagedBytes"] = std::make_unique<JsonValue>(static_cast<double>(staged.bytes));
  }
  root[u"data"] = std::make_unique<JsonValue>(std::move(data));
  return JsonValue(std::move(root)).stringify();
}

// The answer that replaces one the browser would refuse for its size;
// "requestAction" is repeated when the request had it as a string.
std::u16string tooLargeResponse(const std::u16string& contentId, const std::u16string& action,
                                bool actionIsString, std::size_t answerBytes) {
  JsonObject root;
  JsonObject data;
  if (!contentId.empty()) setString(root, u"contentId", contentId);
  if (actionIsString) setString(data, u"requestAction", action);
  setString(data, u"result", u"error");
  std::string text = "Answer too large: " + std::to_string(answerBytes) +
                     " bytes exceed the browser's limit of " + std::to_string(kMaxAnswerBytes) +
                     " bytes";
  setString(data, u"description", std::u16string(text.begin(), text.end()));
  root[u"data"] = std::make_unique<JsonValue>(std::move(data));
  return JsonValue(std::move(root)).stringify();
}

// The answer text; `fits` is false when it had to be replaced for its size.
std::u16string buildAnswer(JsonValue& request, const std::u16string& result,
                           const std::u16string& description, const std::u16string& signature,
                           const std::u16string& certificate, std::uint32_t handle,
                           const StagedProgress& staged, bool& fits) {
  std::u16string contentId = getContentId(request);
  std::u16string action = getRequestAction(request);
  const JsonValue* actionMember = findDataMember(request, u"requestAction");
  bool actionIsString = actionMember != nullptr && actionMember->isString();
  // The request is done with, so its data members move into the answer
  // instead of being copied: a large echoed member costs no second copy.
  JsonObject echoed;
  JsonObject root = request.takeObject();
  auto data = root.find(u"data");
  if (data != root.end() && data->second && data->second->isObject()) {
    echoed = data->second->takeObject();
    echoed.erase(u"contentFile");
  }
  std::u16string answer = answerText(contentId, action, std::move(echoed), result, description,
                                     signature, certificate, handle, staged);
  // No unit takes more than three bytes in UTF-8: most answers need no count.
  std::size_t answerBytes =
      answer.size() * 3 <= kMaxAnswerBytes ? 0 : utf8Length(answer, LoneSurrogate::kThrow);
  fits = answerBytes <= kMaxAnswerBytes;
  if (!fits) {
    LOG_ERROR << u"Answer too large: " << static_cast<unsigned long long>(answerBytes);
    return tooLargeResponse(contentId, action, actionIsString, answerBytes);
  }
  return answer;
}

// Removes a staged file whose "stageContent" answer is not given (replaced
// for its size, or lost to a throw): the page can never go on with it.
class UnansweredStaging {
 public:
  explicit UnansweredStaging(const StagedProgress& staged) : staged_(staged) {}
  ~UnansweredStaging() {
    if (!answered_ && !staged_.name.empty()) discardStagedContent(staged_.name);
  }
  UnansweredStaging(const UnansweredStaging&) = delete;
  UnansweredStaging& operator=(const UnansweredStaging&) = delete;
  void answered(bool given) { answered_ = given; }

 private:
  const StagedProgress& staged_;
  bool answered_ = false;
};

}  // namespace

std::u16string processingMessage(std::u16string message) {
  // The tree holds all it needs; the text can be a large Base64 request,
  // whose memory the content member takes over.
  std::unique_ptr<JsonValue> request = JsonValue::parse(std::move(message));
  if (!request) {
    LOG_ERROR << u"JSON failed to parse";
    return {};
  }
  if (!request->isObject()) {
    LOG_ERROR << u"The root element is not an object";
    return {};
  }
  std::u16string result, description, signature, certificate;
  std::uint32_t handle = 0;
  StagedProgress staged;
  UnansweredStaging unanswered(staged);
  processingMessage(*request, result, description, signature, certificate, handle, staged);

  bool fits = true;
  std::u16string answer =
      buildAnswer(*request, result, description, signature, certificate, handle, staged, fits);
  unanswered.answered(fits);
  return answer;
}

std::u16string buildResponse(JsonValue& request, const std::u16string& result,
                             const std::u16string& description, const std::u16string& signature,
                             const std::u16string& certificate, std::uint32_t handle) {
  bool fits = true;
  return buildAnswer(request, result, description, signature, certificate, handle, StagedProgress(),
                     fits);
}

void processingMessage(const JsonValue& request, std::u16string& result,
                       std::u16string& description, std::u16string& signature,
                       std::u16string& certificate, std::uint32_t& handle, StagedProgress& staged) {
  std::u16string action = getRequestAction(request);
  LOG_DEBUG << u"Action " << action << u"...";
  if (action == u"openCryptoProvider") {
    result = outcomeText(
        vorna::DataSigned::openProvider(getContainerName(request), description, handle));
  } else if (action == u"getCertificate") {
    std::u16string containerName = getContainerName(request);
    std::uint32_t given = getHandleProvider(request);
    bool useHandle = hasHandleProvider(request);
    result = outcomeText(vorna::DataSigned::getCertificate(given, containerName, useHandle,
                                                           description, certificate));
  } else if (action == u"getSignature") {
    signRequest(request, result, description, signature);
  } else if (action == u"stageContent") {
    result = outcomeText(stageContent(request, staged, description));
  } else if (action == u"closeCryptoProvider") {
    if (hasHandleProvider(request)) {
      result =
          outcomeText(vorna::DataSigned::closeProvider(getHandleProvider(request), description));
    } else {
      result = u"error";
      description = u"Bad parameter handleProvider in action closeCryptoProvider";
      LOG_ERROR << description;
    }
  } else {
    result = u"error";
    description = u"Unknow request action " + action;
    LOG_ERROR << description;
  }
}
