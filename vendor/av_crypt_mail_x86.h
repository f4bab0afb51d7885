/* 32-bit x86 only (included by av_crypt_mail.h). Nothing we have states the
 * vendor library's calling convention: the declarations say stdcall for
 * Windows, but a cdecl library would leave its arguments on the stack. So
 * every call goes through avcmCallKeepingStack, which restores the stack
 * pointer after the call and is right under both. The public names become
 * macros over typed wrappers; the declarations stay the imports (by ordinal
 * on Windows) whose addresses the wrappers pass on. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*AvCmEntry)(void);

/* Copies count 32-bit arguments to a 16-byte aligned stack (first argument
 * lowest, as both conventions expect), calls entry and returns its EAX with
 * the stack pointer as it was before the call. */
uint32_t avcmCallKeepingStack(AvCmEntry entry, const uint32_t* arguments, uint32_t count);

#define AVCM_ENTRY(function) ((AvCmEntry)&function)
#define AVCM_WORD(pointer) ((uint32_t)(uintptr_t)(pointer))

static inline uint32_t avcmInitKeepingStack(uint32_t flags) {
  const uint32_t arguments[] = {flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmInit), arguments, 1);
}

static inline uint32_t avcmLoginKeepingStack(uint32_t paramCount, const AvCmLoginParam* params,
                                             uint32_t* provider, uint32_t flags) {
  const uint32_t arguments[] = {paramCount, AVCM_WORD(params), AVCM_WORD(provider), flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmLogin), arguments, 4);
}

static inline uint32_t avcmLogoutKeepingStack(uint32_t provider, uint32_t flags) {
  const uint32_t arguments[] = {provider, flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmLogout), arguments, 2);
}

static inline uint32_t avcmOpenMsgKeepingStack(uint32_t provider, const void* data, uint32_t length,
                                               uint32_t* message, uint32_t flags) {
  const uint32_t arguments[] = {provider, AVCM_WORD(data), length, AVCM_WORD(message), flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmOpenMsg), arguments, 5);
}

static inline uint32_t avcmMsgSignKeepingStack(uint32_t message, uint32_t flags) {
  const uint32_t arguments[] = {message, flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmMsgSign), arguments, 2);
}

static inline uint32_t avcmGetMsgKeepingStack(uint32_t message, void* buffer, uint32_t* length,
                                              uint32_t flags) {
  const uint32_t arguments[] = {message, AVCM_WORD(buffer), AVCM_WORD(length), flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmGetMsg), arguments, 4);
}

static inline uint32_t avcmCloseHandleKeepingStack(uint32_t handle, uint32_t flags) {
  const uint32_t arguments[] = {handle, flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmCloseHandle), arguments, 2);
}

static inline uint32_t avcmGetCertAttrKeepingStack(uint32_t certificate, uint32_t attribute,
                                                   uint32_t index, void* buffer, uint32_t* length,
                                                   uint32_t flags) {
  const uint32_t arguments[] = {certificate,       attribute,         index,
                                AVCM_WORD(buffer), AVCM_WORD(length), flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmGetCertAttr), arguments, 6);
}

static inline uint32_t avcmGetObjectInfoKeepingStack(uint32_t provider, uint32_t infoCode,
                                                     void* value, uint32_t* size, uint32_t flags) {
  const uint32_t arguments[] = {provider, infoCode, AVCM_WORD(value), AVCM_WORD(size), flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmGetObjectInfo), arguments, 5);
}

static inline uint32_t avcmGetErrorInfoKeepingStack(uint32_t provider, uint32_t code, uint32_t kind,
                                                    char* buffer, uint32_t* size, uint32_t flags) {
  const uint32_t arguments[] = {provider, code, kind, AVCM_WORD(buffer), AVCM_WORD(size), flags};
  return avcmCallKeepingStack(AVCM_ENTRY(AvCmGetErrorInfo), arguments, 6);
}

/* Defined last: inside the wrappers the names still mean the imports. */
#define AvCmInit(flags) avcmInitKeepingStack(flags)
#define AvCmLogin(paramCount, params, provider, flags) \
  avcmLoginKeepingStack(paramCount, params, provider, flags)
#define AvCmLogout(provider, flags) avcmLogoutKeepingStack(provider, flags)
#define AvCmOpenMsg(provider, data, length, message, flags) \
  avcmOpenMsgKeepingStack(provider, data, length, message, flags)
#define AvCmMsgSign(message, flags) avcmMsgSignKeepingStack(message, flags)
#define AvCmGetMsg(message, buffer, length, flags) \
  avcmGetMsgKeepingStack(message, buffer, length, flags)
#define AvCmCloseHandle(handle, flags) avcmCloseHandleKeepingStack(handle, flags)
#define AvCmGetCertAttr(certificate, attribute, index, buffer, length, flags) \
  avcmGetCertAttrKeepingStack(certificate, attribute, index, buffer, length, flags)
#define AvCmGetObjectInfo(provider, infoCode, value, size, flags) \
  avcmGetObjectInfoKeepingStack(provider, infoCode, value, size, flags)
#define AvCmGetErrorInfo(provider, code, kind, buffer, size, flags) \
  avcmGetErrorInfoKeepingStack(provider, code, kind, buffer, size, flags)

#ifdef __cplusplus
}
#endif
