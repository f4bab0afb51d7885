#pragma once

#include <cstdint>
#include <string>

// The statuses of the PKCS#11 token library and their readable texts (UTF-8).
// The texts reach web pages: they name tokens and keys, never a PIN and never
// a file path.
namespace pkcs11token {

enum Status : std::uint32_t {
  kOk = 0,
  kNotInitialised = 0x5201,
  kBadParameter = 0x5202,
  kBadHandle = 0x5203,
  kBufferTooSmall = 0x5204,
  kModuleUnavailable = 0x5205,
  kKeyNotFound = 0x5206,
  kKeyAmbiguous = 0x5207,
  kNoCertificate = 0x5208,
  kNoDefaultKey = 0x5209,
  kWrongPin = 0x520A,
  kPinLocked = 0x520B,
  kCancelled = 0x520C,
  kNoPinentry = 0x520D,
  kNoAnswer = 0x520E,
  kTokenRemoved = 0x520F,
  kTokenFailed = 0x5210,
  kMessageNotSigned = 0x5211,
  kMessageAlreadySigned = 0x5212,
  kSigningFailed = 0x5213,
  kUnknownStatus = 0x5214,
  kOutOfMemory = 0x5215,
};

// Remembers, for the calling thread, a detail of its latest failure; returns
// `status` for chaining.
std::uint32_t failWith(std::uint32_t status, const std::string& detail = std::string());

// The fixed text of `status`, followed by ": " and the detail when it was the
// calling thread's latest failure and had one; empty for an unknown code.
std::string describeStatus(std::uint32_t status);

}  // namespace pkcs11token
