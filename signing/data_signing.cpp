#include <new>

#include "logging/log.h"
#include "platform/file_system.h"
#include "platform/memory.h"
#include "signing/data_signed.h"
#include "signing/library_status.h"
#include "text/base64.h"
#include "text/text_convert.h"
#include "vendor/av_crypt_mail.h"

namespace vorna {

namespace {

// The library takes 32-bit lengths; the data size is a signed 32-bit file
// position, so larger files cannot be signed.
constexpr std::uint64_t kMaxDataBytes = 0x7FFFFFFF;

// Closes a message handle once it was obtained, after the data buffer and
// the file are released (members of the frame are destroyed before it).
class MessageHandle {
 public:
  MessageHandle() = default;
  ~MessageHandle() {
    if (open_) DataSigned::closeMessageHandle(handle_);
  }
  MessageHandle(const MessageHandle&) = delete;
  MessageHandle& operator=(const MessageHandle&) = delete;
  std::uint32_t* receive() { return &handle_; }
  void markOpen() { open_ = true; }
  std::uint32_t get() const { return handle_; }

 private:
  std::uint32_t handle_ = 0;
  bool open_ = false;
};

}  // namespace

bool DataSigned::signData(std::uint32_t handle, const std::u16string& containerName,
                          const std::u16string& path, bool useHandle, std::u16string& description,
                          std::u16string& signature) {
  LOG_DEBUG << u"Start signData...";
  LOG_DEBUG << u"Handle provider: " << handle;
  LOG_DEBUG << u"Public key id: " << (containerName.empty() ? u"is empty" : containerName);
  LOG_DEBUG << u"File data: " << (path.empty() ? u"is empty" : path);
  LOG_DEBUG << u"Use handle provider: " << (useHandle ? u"yes" : u"no");
  if (path.empty()) {
    description = u"Bad parameter fileData in action getSignature";
    LOG_ERROR << u"signData: " << description << u": no file path given and none staged";
    return false;
  }

  ByteBuffer buffer;
  std::uint32_t length = 0;
  auto sign = [&](std::uint32_t session) {
    return signData(session, path.c_str(), buffer, length, description);
  };
  if (!inSession(handle, containerName, useHandle, description, sign)) return false;
  signature = utf8ToWide(base64Encode(buffer.get(), length));
  buffer.reset();
  LOG_DEBUG << u"signData success...";
  return true;
}

bool DataSigned::signData(std::uint32_t handle, const char16_t* path, ByteBuffer& signature,
                          std::uint32_t& length, std::u16string& description) {
  MessageHandle message;  // declared first: closed last
  platform::InputFile file;
  // The answer gets the text alone, the log record the path and the cause.
  auto fileFailure = [&](const char16_t* text, const platform::Status& cause) {
    description = text;
    LOG_ERROR << description << u": " << path << u": " << cause.text();
    return false;
  };
  platform::Status fileStatus = file.open(toPath(path));
  if (!fileStatus.ok()) return fileFailure(u"Error open file data", fileStatus);
  std::uint64_t size = 0;
  fileStatus = file.size(size);
  if (!fileStatus.ok()) return fileFailure(u"Error read file data", fileStatus);
  if (size > kMaxDataBytes) {
    description = u"File data is too large";
    LOG_ERROR << description << u": " << path << u": " << static_cast<unsigned long long>(size)
              << u" bytes, at most " << static_cast<unsigned long long>(kMaxDataBytes);
    return false;
  }
  ByteBuffer data(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size)]);
  if (!data) {
    description = u"Error alloc memory for data from file";
    LOG_ERROR << description << u": " << static_cast<unsigned long long>(size) << u" bytes";
    return false;
  }
  platform::preferLargePages(data.get(), static_cast<std::size_t>(size));
  // A file that shrank since its size was taken must not be signed with
  // stale bytes in the buffer.
  fileStatus = file.read(data.get(), static_cast<std::size_t>(size));
  if (!fileStatus.ok()) return fileFailure(u"Error read file data", fileStatus);

  LOG_DEBUG << u"Start AvCmOpenMsg...";
  std::uint32_t status = AvCmOpenMsg(handle, data.get(), static_cast<std::uint32_t>(size),
                                     message.receive(), AVCM_OPEN_MSG_FLAGS);
  if (status != 0) return LIBRARY_FAILURE(u"AvCmOpenMsg", status, description);
  message.markOpen();
  LOG_DEBUG << u"AvCmOpenMsg success...";

  LOG_DEBUG << u"Start AvCmMsgSign...";
  status = AvCmMsgSign(message.get(), AVCM_SIGN_FLAGS);
  if (status != 0) return LIBRARY_FAILURE(u"AvCmMsgSign", status, description);
  LOG_DEBUG << u"AvCmMsgSign success...";

  LOG_DEBUG << u"Start AvCmGetMsg(size)...";
  status = AvCmGetMsg(message.get(), nullptr, &length, AVCM_GET_MSG_FLAGS);
  if (status != 0) return LIBRARY_FAILURE(u"AvCmGetMsg(size)", status, description);
  LOG_DEBUG << u"AvCmGetMsg(size) success...";
  const std::uint32_t allocated = length;
  signature.reset(new (std::nothrow) std::uint8_t[allocated]);
  if (!signature) {
    description = u"Error alloc memory for signature";
    LOG_ERROR << description << u": " << allocated << u" bytes";
    return false;
  }
  LOG_DEBUG << u"Start AvCmGetMsg...";
  status = AvCmGetMsg(message.get(), signature.get(), &length, AVCM_GET_MSG_FLAGS);
  if (status != 0) {
    signature.reset();
    return LIBRARY_FAILURE(u"AvCmGetMsg", status, description);
  }
  // Never trust a length beyond the buffer we handed over.
  if (length > allocated) length = allocated;
  LOG_DEBUG << u"AvCmGetMsg success...";
  return true;
}

void DataSigned::closeMessageHandle(std::uint32_t message) {
  std::uint32_t status = AvCmCloseHandle(message, 0);
  if (status != 0) {
    LOG_ERROR << u"AvCmCloseHandle: " << systemErrorMessage(status);
  }
}

}  // namespace vorna
