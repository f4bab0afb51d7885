#include "vendor/tokens/token_status.h"

#include <openssl/err.h>

namespace tokens {
namespace {

struct LastFailure {
  std::uint32_t status = kOk;
  std::string detail;
};

// Per thread, so concurrent sessions never see each other's details.
thread_local LastFailure lastFailure;

}  // namespace

const char* statusText(std::uint32_t status) {
  static const struct {
    std::uint32_t status;
    const char* text;
  } kTexts[] = {
      {kOk, "No error"},
      {kNotInitialised, "The token library is not initialised"},
      {kBadParameter, "Invalid parameter"},
      {kBadHandle, "Invalid handle"},
      {kBufferTooSmall, "Buffer too small"},
      {kNoStore, "No key container store: neither QUORVANT_TOKEN_STORE nor HOME is set"},
      {kBadContainerName, "Invalid key container name"},
      {kContainerNotFound, "Key container not found"},
      {kContainerUnreadable, "Key container cannot be read"},
      {kNoDefaultContainer, "No default key container"},
      {kMessageNotSigned, "The message is not signed"},
      {kMessageAlreadySigned, "The message is already signed"},
      {kSigningFailed, "Signing failed"},
      {kUnknownStatus, "Unknown status code"},
      {kOutOfMemory, "Out of memory"},
      {kWrongPassphrase, "Wrong passphrase"},
      {kCancelled, "Cancelled by the user"},
      {kNoPinentry, "No dialog (pinentry) can be started to ask the user"},
      {kNoAnswer, "The dialog asking the user gave no answer"},
      {kModuleUnavailable, "The PKCS#11 module cannot be loaded"},
      {kKeyNotFound, "Key not found"},
      {kKeyAmbiguous, "More than one key has this name"},
      {kNoCertificate, "The key has no certificate"},
      {kNoDefaultKey, "No default key"},
      {kWrongPin, "Wrong PIN"},
      {kPinLocked, "The PIN is locked"},
      {kNoPinPinentry, "No PIN dialog (pinentry) can be started"},
      {kNoPinAnswer, "The PIN dialog gave no answer"},
      {kTokenRemoved, "The token is not present"},
      {kTokenFailed, "The token failed"},
  };
  for (const auto& entry : kTexts) {
    if (entry.status == status) return entry.text;
  }
  return "";
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

std::uint32_t consentStatus(consent::Answer answer, const std::string& detail, bool askedForPin) {
  switch (answer) {
    case consent::Answer::kGiven:
      return kOk;
    case consent::Answer::kCancelled:
      return failWith(kCancelled);
    case consent::Answer::kNoPinentry:
      return failWith(askedForPin ? kNoPinPinentry : kNoPinentry, detail);
    case consent::Answer::kNoAnswer:
      break;
  }
  return failWith(askedForPin ? kNoPinAnswer : kNoAnswer, detail);
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

}  // namespace tokens
