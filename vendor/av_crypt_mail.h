/* The ten operations of the vendor's cryptographic messaging library
 * (AvCryptMail.DLL on Windows, libAvCryptMail.so elsewhere). Every operation
 * returns a status: 0 on success, a library error code otherwise. Handles,
 * lengths, codes and flags are 32-bit; texts are NUL-terminated ANSI. */
#pragma once

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define AVCM_CALL __stdcall
#else
#define AVCM_CALL
#endif

#if defined(_WIN32) && defined(AVCM_BUILDING_LIBRARY)
#define AVCM_API __declspec(dllexport)
#elif !defined(_WIN32) && defined(AVCM_BUILDING_LIBRARY)
#define AVCM_API __attribute__((visibility("default")))
#else
#define AVCM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
  AVCMF_STARTUP = 1,
  AVCMF_SHUTDOWN = 2
};

/* Login parameter code whose value is the key container name. */
#define AVCM_PARAM_CONTAINER_NAME 0x100Fu

/* The values the host passes; their meaning beyond this is the library's. */
#define AVCM_OPEN_MSG_FLAGS 0x100u         /* AvCmOpenMsg: a message to sign */
#define AVCM_SIGN_FLAGS 0x2100000u         /* AvCmMsgSign */
#define AVCM_GET_MSG_FLAGS 0x2000u         /* AvCmGetMsg: the signed message */
#define AVCM_INFO_CERTIFICATE 8u           /* AvCmGetObjectInfo: the session's certificate */
#define AVCM_ATTR_CERTIFICATE 45u          /* AvCmGetCertAttr: the certificate bytes */
#define AVCM_ERROR_TEXT_KIND 2u            /* AvCmGetErrorInfo: a readable text */
#define AVCM_ERROR_TEXT_FLAGS 8u           /* AvCmGetErrorInfo */
#define AVCM_ERROR_TEXT_BYTES 4096u        /* AvCmGetErrorInfo: the text buffer's size */

typedef struct AvCmLoginParam {
  uint32_t code;
  const void* value;
} AvCmLoginParam;

/* Ordinal 1: flags is AVCMF_STARTUP or AVCMF_SHUTDOWN. */
AVCM_API uint32_t AVCM_CALL AvCmInit(uint32_t flags);
/* Ordinal 2: writes the provider handle on success. */
AVCM_API uint32_t AVCM_CALL AvCmLogin(uint32_t paramCount, const AvCmLoginParam* params,
                                      uint32_t* provider, uint32_t flags);
/* Ordinal 3 */
AVCM_API uint32_t AVCM_CALL AvCmLogout(uint32_t provider, uint32_t flags);
/* Ordinal 4: data must stay allocated until the signed message is fetched. */
AVCM_API uint32_t AVCM_CALL AvCmOpenMsg(uint32_t provider, const void* data, uint32_t length,
                                        uint32_t* message, uint32_t flags);
/* Ordinal 6 */
AVCM_API uint32_t AVCM_CALL AvCmMsgSign(uint32_t message, uint32_t flags);
/* Ordinal 10: a null buffer asks for the size; with a buffer of that size the
 * signed message is written and *length is its size. */
AVCM_API uint32_t AVCM_CALL AvCmGetMsg(uint32_t message, void* buffer, uint32_t* length,
                                       uint32_t flags);
/* Ordinal 13: closes a message or certificate handle. */
AVCM_API uint32_t AVCM_CALL AvCmCloseHandle(uint32_t handle, uint32_t flags);
/* Ordinal 20: same two-call size protocol; attribute 45 gives the certificate bytes. */
AVCM_API uint32_t AVCM_CALL AvCmGetCertAttr(uint32_t certificate, uint32_t attribute,
                                            uint32_t index, void* buffer, uint32_t* length,
                                            uint32_t flags);
/* Ordinal 25: info code 8 writes a certificate handle for the session's certificate. */
AVCM_API uint32_t AVCM_CALL AvCmGetObjectInfo(uint32_t provider, uint32_t infoCode, void* value,
                                              uint32_t* size, uint32_t flags);
/* Ordinal 26: writes a NUL-terminated ANSI text for the error code. */
AVCM_API uint32_t AVCM_CALL AvCmGetErrorInfo(uint32_t provider, uint32_t code, uint32_t kind,
                                             char* buffer, uint32_t* size, uint32_t flags);

#ifdef __cplusplus
}
#endif
