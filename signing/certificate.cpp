#include <new>

#include "logging/log.h"
#include "signing/data_signed.h"
#include "signing/library_status.h"
#include "text/base64.h"
#include "text/text_convert.h"
#include "vendor/av_crypt_mail.h"

namespace vorna {

namespace {

// Closes a certificate handle when the attribute queries are done; the
// library's status for that close is of no interest.
class CertificateHandle {
 public:
  explicit CertificateHandle(std::uint32_t handle) : handle_(handle) {}
  ~CertificateHandle() { AvCmCloseHandle(handle_, 0); }
  CertificateHandle(const CertificateHandle&) = delete;
  CertificateHandle& operator=(const CertificateHandle&) = delete;
  std::uint32_t get() const { return handle_; }

 private:
  std::uint32_t handle_;
};

}  // namespace

bool DataSigned::getCertificate(std::uint32_t handle, const std::u16string& containerName,
                                bool useHandle, std::u16string& description,
                                std::u16string& certificate) {
  LOG_DEBUG << u"Start getCertificate...";
  LOG_DEBUG << u"Handle provider: " << handle;
  LOG_DEBUG << u"Public key id: " << (containerName.empty() ? u"is empty" : containerName);
  LOG_DEBUG << u"Use handle provider: " << (useHandle ? u"yes" : u"no");

  ByteBuffer buffer;
  std::uint32_t length = 0;
  auto fetch = [&](std::uint32_t session) {
    return getCetificate(session, buffer, length, description);
  };
  if (!inSession(handle, containerName, useHandle, description, fetch)) return false;
  certificate = utf8ToWide(base64Encode(buffer.get(), length));
  buffer.reset();
  LOG_DEBUG << u"getCertificate success...";
  return true;
}

bool DataSigned::getCetificate(std::uint32_t handle, ByteBuffer& buffer, std::uint32_t& length,
                               std::u16string& description) {
  LOG_DEBUG << u"Start AvCmGetObjectInfo...";
  std::uint32_t certificateHandle = 0;
  std::uint32_t size = sizeof certificateHandle;
  std::uint32_t status =
      AvCmGetObjectInfo(handle, AVCM_INFO_CERTIFICATE, &certificateHandle, &size, 0);
  if (status != 0) return LIBRARY_FAILURE(u"AvCmGetObjectInfo", status, description);
  CertificateHandle certificate(certificateHandle);

  status = AvCmGetCertAttr(certificate.get(), AVCM_ATTR_CERTIFICATE, 0, nullptr, &length, 0);
  if (status != 0) return LIBRARY_FAILURE(u"AvCmGetCertAttr(size)", status, description);
  const std::uint32_t allocated = length;
  buffer.reset(new (std::nothrow) std::uint8_t[allocated]);
  if (!buffer) {
    description = u"Error alloc memory for certificate";
    LOG_ERROR << description << u": " << allocated << u" bytes";
    return false;
  }
  status = AvCmGetCertAttr(certificate.get(), AVCM_ATTR_CERTIFICATE, 0, buffer.get(), &length, 0);
  if (status != 0) {
    buffer.reset();
    return LIBRARY_FAILURE(u"AvCmGetCertAttr", status, description);
  }
  // Never trust a length beyond the buffer we handed over.
  if (length > allocated) length = allocated;
  return true;
}

}  // namespace vorna
