#include "vendor/softtoken/token_status.h"

#include <openssl/err.h>

namespace softtoken {
namespace {

struct LastFailure {
  std::uint32_t status = kOk;
  std::string detail;
};

// Per thread, so concurrent sessions never see each other's details.
thread_local LastFailure lastFailure;

}  // namespace

const char* statusText(std::uint32_t status) {
  switch (status) {
    case kOk: return "No error";
    case kNotInitialised: return "The token library is not initialised";
    case kBadParameter: return "Invalid parameter";
    case kBadHandle: return "Invalid handle";
    case kBufferTooSmall: return "Buffer too small";
    case kNoStore: return "No key container store: neither QUORVANT_TOKEN_STORE nor HOME is set";
    case kBadContainerName: return "Invalid key container name";
    case kContainerNotFound: return "Key container not found";
    case kContainerUnreadable: return "Key container cannot be read";
    case kNoDefaultContainer: return "No default key container";
    case kMessageNotSigned: return "The message is not signed";
    case kMessageAlreadySigned: return "The message is already signed";
    case kSigningFailed: return "Signing failed";
    case kUnknownStatus: return "Unknown status code";
    case kOutOfMemory: return "Out of memory";
    default: return "";
  }
}

std::uint32_t failWith(std::uint32_t status, const std::string& detail) {
  lastFailure.status = status;
  lastFailure.detail = detail;
  return status;
}

std::string describeStatus(std::uint32_t status) {
  std::string text = statusText(status);
  if (!text.empty() && status == lastFailure.status && !lastFailure.detail.empty()) {
    text += ": " + lastFailure.detail;
  }
  return text;
}

std::string takeOpenSslErrors() {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    const char* reason = ERR_reason_error_string(code);
    if (!text.empty()) text += "; ";
    text += reason != nullptr ? reason : "error " + std::to_string(code);
  }
  return text;
}

}  // namespace softtoken
