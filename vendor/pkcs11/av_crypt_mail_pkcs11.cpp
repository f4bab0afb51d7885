// The ten operations of the vendor interface over a PKCS#11 module. Each
// checks the arguments the host passes (other flag or code values are
// refused with kBadParameter) and hands the work to the process's one
// Pkcs11State.
#include <openssl/crypto.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "vendor/av_crypt_mail.h"
#include "vendor/pkcs11/pkcs11_state.h"
#include "vendor/pkcs11/pkcs11_status.h"

namespace {

using namespace pkcs11token;

constexpr std::uint32_t kOpenMessageFlags = 0x100;
constexpr std::uint32_t kSignFlags = 0x2100000;
constexpr std::uint32_t kGetMessageFlags = 0x2000;
constexpr std::uint32_t kCertificateInfo = 8;
constexpr std::uint32_t kCertificateBytesAttribute = 45;
constexpr std::uint32_t kErrorTextKind = 2;
constexpr std::uint32_t kErrorTextFlags = 8;

Pkcs11State& token() {
  // OpenSSL first: its clean-up at exit then runs after the state has let go
  // of the token's keys and unloaded the module.
  static const bool openSslReady = OPENSSL_init_crypto(0, nullptr) == 1;
  static Pkcs11State state;
  (void)openSslReady;
  return state;
}

std::uint32_t badParameter(const char* operation, const char* what, std::uint32_t value) {
  char detail[160];
  (void)std::snprintf(detail, sizeof detail, "%s: unexpected %s 0x%X", operation, what, value);
  return failWith(kBadParameter, detail);
}

std::uint32_t badPointer(const char* operation) {
  return failWith(kBadParameter, std::string(operation) + ": null pointer");
}

}  // namespace

extern "C" {

AVCM_API uint32_t AVCM_CALL AvCmInit(uint32_t flags) {
  if (flags == AVCMF_STARTUP) return token().startup();
  if (flags == AVCMF_SHUTDOWN) return token().shutdown();
  return badParameter("AvCmInit", "flags", flags);
}

AVCM_API uint32_t AVCM_CALL AvCmLogin(uint32_t paramCount, const AvCmLoginParam* params,
                                      uint32_t* provider, uint32_t flags) {
  if (flags != 0) return badParameter("AvCmLogin", "flags", flags);
  if (provider == nullptr) return badPointer("AvCmLogin");
  if (paramCount == 0) return token().login(std::string(), *provider);
  if (paramCount != 1 || params == nullptr || params->code != AVCM_PARAM_CONTAINER_NAME ||
      params->value == nullptr) {
    return failWith(kBadParameter, "AvCmLogin: unexpected login parameters");
  }
  std::string name = static_cast<const char*>(params->value);
  if (name.empty()) return failWith(kKeyNotFound, "empty name");
  return token().login(name, *provider);
}

AVCM_API uint32_t AVCM_CALL AvCmLogout(uint32_t provider, uint32_t flags) {
  if (flags != 0) return badParameter("AvCmLogout", "flags", flags);
  return token().logout(provider);
}

AVCM_API uint32_t AVCM_CALL AvCmOpenMsg(uint32_t provider, const void* data, uint32_t length,
                                        uint32_t* message, uint32_t flags) {
  if (flags != kOpenMessageFlags) return badParameter("AvCmOpenMsg", "flags", flags);
  if (message == nullptr || (data == nullptr && length != 0)) return badPointer("AvCmOpenMsg");
  return token().openMessage(provider, data, length, *message);
}

AVCM_API uint32_t AVCM_CALL AvCmMsgSign(uint32_t message, uint32_t flags) {
  if (flags != kSignFlags) return badParameter("AvCmMsgSign", "flags", flags);
  return token().signMessage(message);
}

AVCM_API uint32_t AVCM_CALL AvCmGetMsg(uint32_t message, void* buffer, uint32_t* length,
                                       uint32_t flags) {
  if (flags != kGetMessageFlags) return badParameter("AvCmGetMsg", "flags", flags);
  if (length == nullptr) return badPointer("AvCmGetMsg");
  return token().signedMessage(message, buffer, *length);
}

AVCM_API uint32_t AVCM_CALL AvCmCloseHandle(uint32_t handle, uint32_t flags) {
  if (flags != 0) return badParameter("AvCmCloseHandle", "flags", flags);
  return token().closeHandle(handle);
}

AVCM_API uint32_t AVCM_CALL AvCmGetCertAttr(uint32_t certificate, uint32_t attribute,
                                            uint32_t index, void* buffer, uint32_t* length,
                                            uint32_t flags) {
  if (attribute != kCertificateBytesAttribute) {
    return badParameter("AvCmGetCertAttr", "attribute", attribute);
  }
  if (index != 0) return badParameter("AvCmGetCertAttr", "index", index);
  if (flags != 0) return badParameter("AvCmGetCertAttr", "flags", flags);
  if (length == nullptr) return badPointer("AvCmGetCertAttr");
  return token().certificateBytes(certificate, buffer, *length);
}

AVCM_API uint32_t AVCM_CALL AvCmGetObjectInfo(uint32_t provider, uint32_t infoCode, void* value,
                                              uint32_t* size, uint32_t flags) {
  if (infoCode != kCertificateInfo) return badParameter("AvCmGetObjectInfo", "code", infoCode);
  if (flags != 0) return badParameter("AvCmGetObjectInfo", "flags", flags);
  if (value == nullptr || size == nullptr) return badPointer("AvCmGetObjectInfo");
  if (*size < sizeof(std::uint32_t)) {
    *size = sizeof(std::uint32_t);
    return failWith(kBufferTooSmall);
  }
  std::uint32_t certificate = 0;
  std::uint32_t status = token().openCertificate(provider, certificate);
  if (status == kOk) {
    std::memcpy(value, &certificate, sizeof certificate);
    *size = sizeof certificate;
  }
  return status;
}

// Leaves the thread's latest failure alone: it is what is being described.
AVCM_API uint32_t AVCM_CALL AvCmGetErrorInfo(uint32_t provider, uint32_t code, uint32_t kind,
                                             char* buffer, uint32_t* size, uint32_t flags) {
  (void)provider;
  if (kind != kErrorTextKind || flags != kErrorTextFlags || buffer == nullptr || size == nullptr) {
    return kBadParameter;
  }
  std::string text = describeStatus(code);
  if (text.empty()) return kUnknownStatus;
  auto needed = static_cast<std::uint32_t>(text.size() + 1);
  if (*size < needed) {
    *size = needed;
    return kBufferTooSmall;
  }
  std::memcpy(buffer, text.c_str(), needed);
  *size = needed;
  return kOk;
}

}  // extern "C"
