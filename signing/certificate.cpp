#include <new>

#include "logging/log.h"
#include "signing/data_signed.h"
#include "text/base64.h"
#include "text/text_convert.h"
#include "vendor/av_crypt_mail.h"

namespace vorna {

namespace {

constexpr std::uint32_t kInfoCertificate = 8;
constexpr std::uint32_t kAttributeCertificate = 45;

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
  if (useHandle) {
    if (!getCetificate(handle, buffer, length, description)) return false;
  } else {
    std::uint32_t session = 0;
    if (!openProvider(containerName, description, session)) return false;
    bool fetched = getCetificate(session, buffer, length, description);
    std::u16string ignored;
    closeProvider(session, ignored);
    if (!fetched) return false;
  }
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
  std::uint32_t status = AvCmGetObjectInfo(handle, kInfoCertificate, &certificateHandle, &size, 0);
  if (status != 0) {
    description = systemErrorMessage(status);
    LOG_ERROR << u"AvCmGetObjectInfo: " << description;
    return false;
  }
  CertificateHandle certificate(certificateHandle);

  status = AvCmGetCertAttr(certificate.get(), kAttributeCertificate, 0, nullptr, &length, 0);
  if (status != 0) {
    description = systemErrorMessage(status);
    LOG_ERROR << u"AvCmGetCertAttr(size): " << description;
    return false;
  }
  const std::uint32_t allocated = length;
  buffer.reset(new (std::nothrow) std::uint8_t[allocated]);
  if (!buffer) {
    description = u"Error alloc memory for certificate";
    LOG_ERROR << description;
    return false;
  }
  status = AvCmGetCertAttr(certificate.get(), kAttributeCertificate, 0, buffer.get(), &length, 0);
  if (status != 0) {
    description = systemErrorMessage(status);
    LOG_ERROR << u"AvCmGetCertAttr: " << description;
    buffer.reset();
    return false;
  }
  // Never trust a length beyond the buffer we handed over.
  if (length > allocated) length = allocated;
  return true;
}

}  // namespace vorna
