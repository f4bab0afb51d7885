#include "tests/stress/stress_requests.h"

#include <gtest/gtest.h>

#include <memory>

#include "json/json_value.h"
#include "tests/process/host_process.h"

namespace {

constexpr std::uint32_t kFirstProviderHandle = 0x1001;

std::string contentFor(int host, int index) {
  std::string content =
      "content of request " + std::to_string(index) + " on host " + std::to_string(host) + ":";
  for (int i = 0; i < index % 97; ++i) content += static_cast<char>((host * 31 + i * 7) & 0xFF);
  return content;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string request(const std::string& contentId, const std::string& members) {
  return "{\"contentId\":" + quoted(contentId) + ",\"data\":{" + members + "}}";
}

std::string signing(std::uint32_t handle, const std::string& content, const std::string& work) {
  std::string members =
      "\"requestAction\":\"getSignature\",\"containerName\":\"C1\","
      "\"handleProvider\":" +
      std::to_string(handle) + ",\"contentFile\":" + quoted(toBase64(content));
  if (!work.empty()) members += ",\"workingDirectory\":" + quoted(work);
  return members;
}

std::optional<std::string> fromBase64Member(const std::string& body, const char16_t* name) {
  std::optional<std::string> text = dataString(body, name);
  return text ? fromBase64(*text) : std::nullopt;
}

std::optional<double> numberMember(const std::string& body, const char16_t* name) {
  std::unique_ptr<JsonValue> answer = parseAnswer(body);
  const JsonValue* data = answer ? answer->child(u"data") : nullptr;
  const JsonValue* member = data != nullptr ? data->child(name) : nullptr;
  if (member == nullptr || !member->isNumber()) return std::nullopt;
  return member->asNumber();
}

std::optional<std::string> contentIdOf(const std::string& body) {
  std::unique_ptr<JsonValue> answer = parseAnswer(body);
  const JsonValue* id = answer ? answer->child(u"contentId") : nullptr;
  if (id == nullptr || !id->isString()) return std::nullopt;
  return std::string(id->asString().begin(), id->asString().end());
}

}  // namespace

MixedRequest mixedRequest(int host, int index, const std::string& work) {
  const int cycle = index / 8;
  const std::uint32_t handle = kFirstProviderHandle + static_cast<std::uint32_t>(cycle);
  MixedRequest r;
  r.contentId = "h" + std::to_string(host) + "-" + std::to_string(index);
  r.result = "success";
  switch (index % 8) {
    case 0:
      r.body =
          request(r.contentId, "\"requestAction\":\"openCryptoProvider\",\"containerName\":\"C1\"");
      r.handle = handle;
      break;
    case 1:
      r.body = request(r.contentId,
                       "\"requestAction\":\"getCertificate\",\"containerName\":\"C1\","
                       "\"handleProvider\":" +
                           std::to_string(handle));
      r.certificate = "CERT:C1";
      break;
    case 2:
    case 3: {
      const std::string content = contentFor(host, index);
      r.body = request(r.contentId, signing(handle, content, index % 8 == 2 ? work : ""));
      r.stages = true;
      r.signature = signedMessage("C1", content);
      break;
    }
    case 4:
      r.result = "error";
      if (cycle % 2 == 0) {
        r.body = request(r.contentId, "\"requestAction\":\"closeCryptoProvider\"");
        r.description = "Bad parameter handleProvider in action closeCryptoProvider";
      } else {
        // Decodes to nothing: no file is staged and signing has no data.
        r.body = request(r.contentId,
                         "\"requestAction\":\"getSignature\",\"containerName\":\"C1\","
                         "\"handleProvider\":" +
                             std::to_string(handle) + ",\"contentFile\":\" QUJD\"");
      }
      break;
    case 5:
      r.body = request(r.contentId, "\"requestAction\":\"noSuchAction\"");
      r.result = "error";
      r.description = "Unknow request action noSuchAction";
      break;
    case 6:
      r.body = request(r.contentId,
                       "\"requestAction\":\"closeCryptoProvider\","
                       "\"handleProvider\":" +
                           std::to_string(handle));
      break;
    default:
      r.body = cycle % 2 == 0 ? "[\"not an object\"]" : "{\"contentId\":\"\xff\"}";
      r.answered = false;
      break;
  }
  return r;
}

std::string answerMismatch(const MixedRequest& request, const std::string& body) {
  if (contentIdOf(body) != request.contentId) return "contentId differs in " + body;
  if (dataString(body, u"result") != request.result) return "result differs in " + body;
  if (request.description && dataString(body, u"description") != request.description) {
    return "description differs in " + body;
  }
  if (request.signature && fromBase64Member(body, u"signature") != request.signature) {
    return "signature differs in " + body;
  }
  if (request.certificate && fromBase64Member(body, u"certificate") != request.certificate) {
    return "certificate differs in " + body;
  }
  if (request.handle &&
      numberMember(body, u"handleProvider") != static_cast<double>(*request.handle)) {
    return "handleProvider differs in " + body;
  }
  return "";
}

void expectAnswer(const MixedRequest& request, const std::string& body) {
  EXPECT_EQ("", answerMismatch(request, body)) << "request: " << request.body;
}

void expectNoSanitizerReport(const std::string& errors) {
  EXPECT_EQ(std::string::npos, errors.find("Sanitizer")) << errors;
  EXPECT_EQ(std::string::npos, errors.find("runtime error:")) << errors;
}
