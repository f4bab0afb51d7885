#include <vector>

#include "logging/log.h"
#include "signing/data_signed.h"
#include "signing/library_status.h"
#include "text/text_convert.h"
#include "vendor/av_crypt_mail.h"

namespace vorna {

bool reportLibraryFailure(std::uint32_t status, const char16_t* call, std::u16string& description,
                          const char* function, int line) {
  description = DataSigned::systemErrorMessage(status);
  if (logging::isLogged(logging::error)) {
    logging::LogRecord(logging::error, function, line) << call << u": " << description;
  }
  return false;
}

std::u16string DataSigned::systemErrorMessage(std::uint32_t code) {
  char text[AVCM_ERROR_TEXT_BYTES] = {};
  std::uint32_t size = AVCM_ERROR_TEXT_BYTES;
  std::uint32_t status =
      AvCmGetErrorInfo(0, code, AVCM_ERROR_TEXT_KIND, text, &size, AVCM_ERROR_TEXT_FLAGS);
  if (status != 0) {
    LOG_ERROR << u"AvCmGetErrorInfo error: " << status;
    return u"unknow error";
  }
  // The library promises a NUL; the last byte stays 0 in case it does not.
  text[AVCM_ERROR_TEXT_BYTES - 1] = '\0';
  return ansiToWide(std::string(text));
}

bool DataSigned::openProvider(const std::u16string& containerName, std::u16string& description,
                              std::uint32_t& handle) {
  LOG_DEBUG << u"Start openProvider...";
  LOG_DEBUG << u"Public key id: " << (containerName.empty() ? u"is empty" : containerName);
  std::string container = wideToAnsi(containerName);
  if (!openCryptoProvider(handle, container.empty() ? nullptr : container.c_str(), description)) {
    return false;
  }
  LOG_DEBUG << u"Handle provider: " << handle;
  LOG_DEBUG << u"openProvider success...";
  return true;
}

bool DataSigned::openCryptoProvider(std::uint32_t& handle, const char* container,
                                    std::u16string& description) {
  LOG_DEBUG << u"Start AvCmInit( AVCMF_STARTUP )...";
  std::uint32_t status = AvCmInit(AVCMF_STARTUP);
  if (status != 0) return LIBRARY_FAILURE(u"AvCmInit( AVCMF_STARTUP )", status, description);
  LOG_DEBUG << u"AvCmInit( AVCMF_STARTUP ) success...";

  AvCmLoginParam parameter = {AVCM_PARAM_CONTAINER_NAME, container};
  std::uint32_t count = container != nullptr ? 1 : 0;
  LOG_DEBUG << u"Start AvCmLogin...";
  status = AvCmLogin(count, count != 0 ? &parameter : nullptr, &handle, 0);
  if (status != 0) {
    // No shutdown here: what the library does with its start-up after a
    // failed login is unknown, and a shutdown too many could end the
    // start-up that other open sessions rely on.
    return LIBRARY_FAILURE(u"AAvCmLogin", status, description);
  }
  LOG_DEBUG << u"AvCmLogin success...";
  return true;
}

bool DataSigned::closeProvider(std::uint32_t handle, std::u16string& description) {
  LOG_DEBUG << u"Start closeProvider...";
  LOG_DEBUG << u"Handle provider: " << handle;
  LOG_DEBUG << u"Start AvCmLogout...";
  bool result = true;
  std::uint32_t status = AvCmLogout(handle, 0);
  if (status != 0) {
    result = LIBRARY_FAILURE(u"AvCmLogout", status, description);
  } else {
    LOG_DEBUG << u"AvCmLogout success...";
  }
  status = AvCmInit(AVCMF_SHUTDOWN);
  if (status != 0) return LIBRARY_FAILURE(u"AvCmInit(AVCMF_SHUTDOWN)", status, description);
  LOG_DEBUG << u"AvCmInit(AVCMF_SHUTDOWN) success...";
  if (result) {
    LOG_DEBUG << u"closeProvider success...";
  }
  return result;
}

}  // namespace vorna
