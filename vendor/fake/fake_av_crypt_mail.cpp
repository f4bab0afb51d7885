// A scriptable stand-in for the vendor's crypto library. Handles and bytes are
// deterministic, and three environment variables, read at every call, let a
// test inject failures, record every call and make the library chatty on
// standard output. vendor/fake/README.md describes the behaviour tests rely on.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "vendor/av_crypt_mail.h"
#include "vendor/fake/fake_platform.h"
#include "vendor/fake/fault_script.h"

namespace {

using avcm_fake::environmentValue;

constexpr std::uint32_t kContainerNotFound = 0x101;
constexpr std::uint32_t kSignFailed = 0x103;
constexpr std::uint32_t kInvalidHandle = 0x104;
constexpr std::uint32_t kNotInitialised = 0x105;
constexpr std::uint32_t kBadLogin = 0x106;
constexpr std::uint32_t kBufferTooSmall = 0x107;
constexpr std::uint32_t kNotSigned = 0x108;
constexpr std::uint32_t kBadArgument = 0x109;
constexpr std::uint32_t kUndescribable = 0x1FF;
constexpr std::uint32_t kLookupFailed = 0x1FE;

constexpr std::uint32_t kOpenFlags = 0x100;
constexpr std::uint32_t kSignFlags = 0x2100000;
constexpr std::uint32_t kGetMessageFlags = 0x2000;
constexpr std::uint32_t kCertificateInfo = 8;
constexpr std::uint32_t kCertificateAttribute = 45;
constexpr std::uint32_t kErrorTextKind = 2;
constexpr std::uint32_t kErrorTextFlags = 8;

std::string decimal(std::uint64_t value) { return std::to_string(value); }

// Opened, appended to and closed per line, so that other processes and the
// test itself can read the record at any time.
void appendRecord(const std::string& line) {
  const std::string path = environmentValue("AVCM_FAKE_LOG");
  if (path.empty()) return;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "ab"),
                                                       &std::fclose);
  if (!file) return;
  (void)std::fputs((line + "\n").c_str(), file.get());
}

std::string loginContainer(std::uint32_t count, const AvCmLoginParam* params) {
  if (count != 1 || !params || params->code != AVCM_PARAM_CONTAINER_NAME || !params->value) {
    return std::string();
  }
  return static_cast<const char*>(params->value);
}

std::uint64_t fnv1a(const void* data, std::uint32_t length) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (std::uint32_t i = 0; i < length; ++i) {
    hash ^= bytes[i];
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string errorText(std::uint32_t code) {
  switch (code) {
    case kContainerNotFound:
      return "Key container not found";
    case kSignFailed:
      return avcm_fake::ansiFromUtf8(u8"Ошибка подписи: ключ недоступен");
    case kInvalidHandle:
      return "Invalid handle";
    case kNotInitialised:
      return "Library not initialised";
    case kBufferTooSmall:
      return "Buffer too small";
    case kNotSigned:
      return "Message not signed";
    default:
      break;
  }
  char text[40];
  (void)std::snprintf(text, sizeof text, "Fake library error 0x%X", static_cast<unsigned>(code));
  return text;
}

// The two-call size protocol: a null buffer asks for the size; a buffer gets
// the bytes when *length says it is large enough.
std::uint32_t copyOut(const std::string& bytes, void* buffer, std::uint32_t* length) {
  if (!length) return kBadArgument;
  const auto size = static_cast<std::uint32_t>(bytes.size());
  if (buffer) {
    if (*length < size) return kBufferTooSmall;
    if (size > 0) std::memcpy(buffer, bytes.data(), size);
  }
  *length = size;
  return 0;
}

struct Message {
  std::string container;
  std::uint32_t length = 0;
  std::uint64_t hash = 0;
  bool isSigned = false;
};

class FakeLibrary {
 public:
  // What is still open when the process ends, so tests can prove nothing leaked.
  ~FakeLibrary() {
    std::lock_guard<std::mutex> lock(mutex_);
    appendRecord("exit startups=" + decimal(startups_) + " sessions=" + decimal(sessions_.size()) +
                 " messages=" + decimal(messages_.size()) +
                 " certificates=" + decimal(certificates_.size()));
  }

  // Runs one operation: an injected fault replaces it entirely; either way
  // the call leaves one record line.
  template <typename Body>
  std::uint32_t perform(const char* operation, const std::string& arguments, Body body) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint32_t status = 0;
    if (!faults_.failsCall(operation, status)) status = body();
    appendRecord(std::string(operation) + " " + arguments + " -> " + decimal(status));
    return status;
  }

  std::uint32_t init(std::uint32_t flags) {
    if (flags == AVCMF_STARTUP) {
      ++startups_;
      return 0;
    }
    if (flags != AVCMF_SHUTDOWN) return kBadArgument;
    if (startups_ == 0) return kNotInitialised;
    --startups_;
    return 0;
  }

  std::uint32_t login(std::uint32_t count, const AvCmLoginParam* params, std::uint32_t* provider,
                      std::uint32_t flags) {
    if (startups_ == 0) return kNotInitialised;
    if (!provider || flags != 0) return kBadArgument;
    std::string container = loginContainer(count, params);
    if (count == 0 && !params) {
      container = "default";
    } else if (container.empty()) {
      return kBadLogin;
    }
    if (container.compare(0, 7, "missing") == 0) return kContainerNotFound;
    *provider = nextProvider_++;
    sessions_[*provider] = container;
    return 0;
  }

  std::uint32_t logout(std::uint32_t provider, std::uint32_t flags) {
    if (sessions_.count(provider) == 0) return kInvalidHandle;
    if (flags != 0) return kBadArgument;
    sessions_.erase(provider);
    return 0;
  }

  std::uint32_t openMessage(std::uint32_t provider, const void* data, std::uint32_t length,
                            std::uint32_t* message, std::uint32_t flags) {
    const auto session = sessions_.find(provider);
    if (session == sessions_.end()) return kInvalidHandle;
    if (!message || (!data && length > 0) || flags != kOpenFlags) return kBadArgument;
    *message = nextMessage_++;
    messages_[*message] = Message{session->second, length, fnv1a(data, length), false};
    return 0;
  }

  std::uint32_t sign(std::uint32_t message, std::uint32_t flags) {
    const auto found = messages_.find(message);
    if (found == messages_.end()) return kInvalidHandle;
    if (flags != kSignFlags) return kBadArgument;
    if (found->second.container == "sign-fails") return kSignFailed;
    found->second.isSigned = true;
    return 0;
  }

  std::uint32_t getMessage(std::uint32_t message, void* buffer, std::uint32_t* length,
                           std::uint32_t flags) {
    const auto found = messages_.find(message);
    if (found == messages_.end()) return kInvalidHandle;
    if (flags != kGetMessageFlags) return kBadArgument;
    const Message& signedMessage = found->second;
    if (!signedMessage.isSigned) return kNotSigned;
    char hash[17];
    (void)std::snprintf(hash, sizeof hash, "%016llx",
                        static_cast<unsigned long long>(signedMessage.hash));
    const std::string bytes =
        "SIGNED:" + signedMessage.container + ":" + decimal(signedMessage.length) + ":" + hash;
    return copyOut(bytes, buffer, length);
  }

  std::uint32_t closeHandle(std::uint32_t handle, std::uint32_t flags) {
    if (messages_.count(handle) == 0 && certificates_.count(handle) == 0) return kInvalidHandle;
    if (flags != 0) return kBadArgument;
    messages_.erase(handle);
    certificates_.erase(handle);
    return 0;
  }

  std::uint32_t getObjectInfo(std::uint32_t provider, std::uint32_t infoCode, void* value,
                              std::uint32_t* size, std::uint32_t flags) {
    const auto session = sessions_.find(provider);
    if (session == sessions_.end()) return kInvalidHandle;
    if (infoCode != kCertificateInfo || !value || !size || *size != sizeof(std::uint32_t) ||
        flags != 0) {
      return kBadArgument;
    }
    const std::uint32_t certificate = nextCertificate_++;
    const std::string& container = session->second;
    certificates_[certificate] = container == "empty-cert" ? std::string() : "CERT:" + container;
    std::memcpy(value, &certificate, sizeof certificate);
    return 0;
  }

  std::uint32_t getCertAttr(std::uint32_t certificate, std::uint32_t attribute, std::uint32_t index,
                            void* buffer, std::uint32_t* length, std::uint32_t flags) {
    const auto found = certificates_.find(certificate);
    if (found == certificates_.end()) return kInvalidHandle;
    if (attribute != kCertificateAttribute || index != 0 || flags != 0) return kBadArgument;
    return copyOut(found->second, buffer, length);
  }

  std::uint32_t getErrorInfo(std::uint32_t provider, std::uint32_t code, std::uint32_t kind,
                             char* buffer, std::uint32_t* size, std::uint32_t flags) {
    if (provider != 0 || kind != kErrorTextKind || !buffer || !size || flags != kErrorTextFlags) {
      return kBadArgument;
    }
    if (code == kUndescribable) return kLookupFailed;
    const std::string text = errorText(code);
    if (*size <= text.size()) return kBufferTooSmall;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *size = static_cast<std::uint32_t>(text.size() + 1);
    return 0;
  }

 private:
  std::mutex mutex_;
  avcm_fake::FaultScript faults_;
  std::uint32_t startups_ = 0;
  std::uint32_t nextProvider_ = 0x1001;
  std::uint32_t nextMessage_ = 0x2001;
  std::uint32_t nextCertificate_ = 0x3001;
  std::map<std::uint32_t, std::string> sessions_;  // provider handle -> container
  std::map<std::uint32_t, Message> messages_;
  std::map<std::uint32_t, std::string> certificates_;  // handle -> certificate bytes
};

// A namespace-scope object, so its destructor writes the exit line even for a
// process that never called the library.
FakeLibrary fakeLibrary;

}  // namespace

extern "C" {

AVCM_API std::uint32_t AVCM_CALL AvCmInit(std::uint32_t flags) {
  const std::string chatter = environmentValue("AVCM_FAKE_STDOUT");
  if (!chatter.empty()) avcm_fake::echoToStandardOutput(chatter + "\n");
  return fakeLibrary.perform("AvCmInit", decimal(flags), [&] { return fakeLibrary.init(flags); });
}

AVCM_API std::uint32_t AVCM_CALL AvCmLogin(std::uint32_t paramCount, const AvCmLoginParam* params,
                                           std::uint32_t* provider, std::uint32_t flags) {
  return fakeLibrary.perform(
      "AvCmLogin", "", [&] { return fakeLibrary.login(paramCount, params, provider, flags); });
}

AVCM_API std::uint32_t AVCM_CALL AvCmLogout(std::uint32_t provider, std::uint32_t flags) {
  return fakeLibrary.perform("AvCmLogout", "", [&] { return fakeLibrary.logout(provider, flags); });
}

AVCM_API std::uint32_t AVCM_CALL AvCmOpenMsg(std::uint32_t provider, const void* data,
                                             std::uint32_t length, std::uint32_t* message,
                                             std::uint32_t flags) {
  return fakeLibrary.perform("AvCmOpenMsg", "", [&] {
    return fakeLibrary.openMessage(provider, data, length, message, flags);
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmMsgSign(std::uint32_t message, std::uint32_t flags) {
  return fakeLibrary.perform("AvCmMsgSign", "", [&] { return fakeLibrary.sign(message, flags); });
}

AVCM_API std::uint32_t AVCM_CALL AvCmGetMsg(std::uint32_t message, void* buffer,
                                            std::uint32_t* length, std::uint32_t flags) {
  return fakeLibrary.perform(
      "AvCmGetMsg", "", [&] { return fakeLibrary.getMessage(message, buffer, length, flags); });
}

AVCM_API std::uint32_t AVCM_CALL AvCmCloseHandle(std::uint32_t handle, std::uint32_t flags) {
  return fakeLibrary.perform("AvCmCloseHandle", "",
                             [&] { return fakeLibrary.closeHandle(handle, flags); });
}

AVCM_API std::uint32_t AVCM_CALL AvCmGetCertAttr(std::uint32_t certificate, std::uint32_t attribute,
                                                 std::uint32_t index, void* buffer,
                                                 std::uint32_t* length, std::uint32_t flags) {
  return fakeLibrary.perform("AvCmGetCertAttr", "", [&] {
    return fakeLibrary.getCertAttr(certificate, attribute, index, buffer, length, flags);
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmGetObjectInfo(std::uint32_t provider, std::uint32_t infoCode,
                                                   void* value, std::uint32_t* size,
                                                   std::uint32_t flags) {
  return fakeLibrary.perform("AvCmGetObjectInfo", "", [&] {
    return fakeLibrary.getObjectInfo(provider, infoCode, value, size, flags);
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmGetErrorInfo(std::uint32_t provider, std::uint32_t code,
                                                  std::uint32_t kind, char* buffer,
                                                  std::uint32_t* size, std::uint32_t flags) {
  return fakeLibrary.perform("AvCmGetErrorInfo", decimal(code), [&] {
    return fakeLibrary.getErrorInfo(provider, code, kind, buffer, size, flags);
  });
}

}  // extern "C"
