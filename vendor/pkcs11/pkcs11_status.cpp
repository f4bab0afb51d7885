#include "vendor/pkcs11/pkcs11_status.h"

namespace pkcs11token {
namespace {

struct LastFailure {
  std::uint32_t status = kOk;
  std::string detail;
};

// Per thread, so concurrent sessions never see each other's details.
thread_local LastFailure lastFailure;

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
      {kModuleUnavailable, "The PKCS#11 module cannot be loaded"},
      {kKeyNotFound, "Key not found"},
      {kKeyAmbiguous, "More than one key has this name"},
      {kNoCertificate, "The key has no certificate"},
      {kNoDefaultKey, "No default key"},
      {kWrongPin, "Wrong PIN"},
      {kPinLocked, "The PIN is locked"},
      {kCancelled, "Cancelled by the user"},
      {kNoPinentry, "No PIN dialog (pinentry) can be started"},
      {kNoAnswer, "The PIN dialog gave no answer"},
      {kTokenRemoved, "The token is not present"},
      {kTokenFailed, "The token failed"},
      {kMessageNotSigned, "The message is not signed"},
      {kMessageAlreadySigned, "The message is already signed"},
      {kSigningFailed, "Signing failed"},
      {kUnknownStatus, "Unknown status code"},
      {kOutOfMemory, "Out of memory"},
  };
  for (const auto& entry : kTexts) {
    if (entry.status == status) return entry.text;
  }
  return "";
}

}  // namespace

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

}  // namespace pkcs11token
