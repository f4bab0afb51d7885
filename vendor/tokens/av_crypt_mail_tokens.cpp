// The ten operations of the vendor interface, compiled into each token
// library. Each checks the arguments the host passes (other flag or code
// values are refused with kBadParameter) and hands the work to the process's
// one TokenState over the library's backend.
#include <cstdio>
#include <cstring>
#include <string>

#include "vendor/av_crypt_mail.h"
#include "vendor/tokens/token_state.h"
#include "vendor/tokens/token_status.h"

namespace {

using namespace tokens;

// Never destroyed, as the backend: see backend().
TokenState& token() {
  static TokenState& state = *new TokenState(backend());
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
  if (paramCount == 0) return token().login(nullptr, *provider);
  if (paramCount != 1 || params == nullptr || params->code != AVCM_PARAM_CONTAINER_NAME ||
      params->value == nullptr) {
    return failWith(kBadParameter, "AvCmLogin: unexpected login parameters");
  }
  return token().login(static_cast<const char*>(params->value), *provider);
}

AVCM_API uint32_t AVCM_CALL AvCmLogout(uint32_t provider, uint32_t flags) {
  if (flags != 0) return badParameter("AvCmLogout", "flags", flags);
  return token().logout(provider);
}

AVCM_API uint32_t AVCM_CALL AvCmOpenMsg(uint32_t provider, const void* data, uint32_t length,
                                        uint32_t* message, uint32_t flags) {
  if (flags != AVCM_OPEN_MSG_FLAGS) return badParameter("AvCmOpenMsg", "flags", flags);
  if (message == nullptr || (data == nullptr && length != 0)) return badPointer("AvCmOpenMsg");
  return token().openMessage(provider, data, length, *message);
}

AVCM_API uint32_t AVCM_CALL AvCmMsgSign(uint32_t message, uint32_t flags) {
  if (flags != AVCM_SIGN_FLAGS) return badParameter("AvCmMsgSign", "flags", flags);
  return token().signMessage(message);
}

AVCM_API uint32_t AVCM_CALL AvCmGetMsg(uint32_t message, void* buffer, uint32_t* length,
                                       uint32_t flags) {
  if (flags != AVCM_GET_MSG_FLAGS) return badParameter("AvCmGetMsg", "flags", flags);
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
  if (attribute != AVCM_ATTR_CERTIFICATE) {
    return badParameter("AvCmGetCertAttr", "attribute", attribute);
  }
  if (index != 0) return badParameter("AvCmGetCertAttr", "index", index);
  if (flags != 0) return badParameter("AvCmGetCertAttr", "flags", flags);
  if (length == nullptr) return badPointer("AvCmGetCertAttr");
  return token().certificateBytes(certificate, buffer, *length);
}

AVCM_API uint32_t AVCM_CALL AvCmGetObjectInfo(uint32_t provider, uint32_t infoCode, void* value,
                                              uint32_t* size, uint32_t flags) {
  if (infoCode != AVCM_INFO_CERTIFICATE) return badParameter("AvCmGetObjectInfo", "code", infoCode);
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
  if (kind != AVCM_ERROR_TEXT_KIND || flags != AVCM_ERROR_TEXT_FLAGS || buffer == nullptr ||
      size == nullptr) {
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
