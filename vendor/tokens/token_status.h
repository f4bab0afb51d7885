#pragma once

#include <cstdint>
#include <string>

#include "vendor/consent/pinentry.h"

// The statuses the token libraries return and their readable texts. The
// texts are UTF-8 (the code page of the libraries' platform) and are what the
// host shows to the browser: they name containers, tokens and keys, never a
// PIN, a passphrase or a file path.
namespace tokens {

enum Status : std::uint32_t {
  kOk = 0,
  kNotInitialised = 0x5101,
  kBadParameter = 0x5102,
  kBadHandle = 0x5103,
  kBufferTooSmall = 0x5104,
  kNoStore = 0x5105,
  kBadContainerName = 0x5106,
  kContainerNotFound = 0x5107,
  kContainerUnreadable = 0x5108,
  kNoDefaultContainer = 0x5109,
  kMessageNotSigned = 0x510A,
  kMessageAlreadySigned = 0x510B,
  kSigningFailed = 0x510C,
  kUnknownStatus = 0x510D,
  kOutOfMemory = 0x510E,
  kWrongPassphrase = 0x510F,
  kCancelled = 0x5110,
  kNoPinentry = 0x5111,
  kNoAnswer = 0x5112,
  kModuleUnavailable = 0x5113,
  kKeyNotFound = 0x5114,
  kKeyAmbiguous = 0x5115,
  kNoCertificate = 0x5116,
  kNoDefaultKey = 0x5117,
  kWrongPin = 0x5118,
  kPinLocked = 0x5119,
  kNoPinPinentry = 0x511A,
  kNoPinAnswer = 0x511B,
  kTokenRemoved = 0x511C,
  kTokenFailed = 0x511D,
};

// The fixed text of a status; empty for a code no token library returns.
const char* statusText(std::uint32_t status);

// Remembers, for the calling thread, a detail of its latest failure (for
// example which container could not be read). Returns `status` for chaining.
std::uint32_t failWith(std::uint32_t status, const std::string& detail = std::string());

// The text of `status` for the calling thread: the fixed text, followed by
// ": " and the detail when `status` was this thread's latest failure and it
// had one. Empty for a code no token library returns.
std::string describeStatus(std::uint32_t status);

// kOk for a given answer, else the failure it stands for. A dialog that asked
// for a PIN has texts of its own (kNoPinPinentry, kNoPinAnswer).
std::uint32_t consentStatus(consent::Answer answer, const std::string& detail, bool askedForPin);

// The error queue of OpenSSL as one line (oldest reason first), emptied.
std::string takeOpenSslErrors();

}  // namespace tokens
