#include "vendor/pkcs11/pkcs11_state.h"

#include <cstring>
#include <limits>

#include "vendor/pkcs11/pkcs11_status.h"

namespace pkcs11token {
namespace {

std::uint32_t copyOut(const softtoken::Bytes& bytes, void* buffer, std::uint32_t& length) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) return failWith(kOutOfMemory);
  auto size = static_cast<std::uint32_t>(bytes.size());
  if (buffer != nullptr) {
    if (length < size) {
      length = size;
      return failWith(kBufferTooSmall);
    }
    if (size != 0) std::memcpy(buffer, bytes.data(), size);
  }
  length = size;
  return kOk;
}

}  // namespace

std::uint32_t Pkcs11State::nextHandle() {
  do {
    ++lastHandle_;
  } while (lastHandle_ == 0);
  return lastHandle_;
}

// Messages keep their session's key, so they keep the module too.
void Pkcs11State::unloadWhenIdle() {
  if (sessions_.empty() && messages_.empty()) module_.unload();
}

std::uint32_t Pkcs11State::startup() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++startups_;
  return kOk;
}

std::uint32_t Pkcs11State::shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (startups_ == 0) return failWith(kNotInitialised);
  --startups_;
  return kOk;
}

std::uint32_t Pkcs11State::login(const std::string& name, std::uint32_t& provider) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (startups_ == 0) return failWith(kNotInitialised);
  auto session = std::make_shared<Session>();
  std::uint32_t status = module_.load();
  if (status == kOk) status = module_.find(name, session->key);
  if (status == kOk) status = module_.logIn(session->key);
  if (status == kOk) status = module_.credential(session->key, session->credential);
  if (status != kOk) {
    session.reset();
    unloadWhenIdle();
    return status;
  }
  provider = nextHandle();
  sessions_[provider] = std::move(session);
  return kOk;
}

std::uint32_t Pkcs11State::logout(std::uint32_t provider) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessions_.erase(provider) == 0) return failWith(kBadHandle);
  unloadWhenIdle();
  return kOk;
}

std::uint32_t Pkcs11State::openMessage(std::uint32_t provider, const void* data,
                                       std::uint32_t length, std::uint32_t& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = sessions_.find(provider);
  if (found == sessions_.end()) return failWith(kBadHandle);
  message = nextHandle();
  Message& opened = messages_[message];
  opened.session = found->second;
  opened.data = data;
  opened.length = length;
  return kOk;
}

std::uint32_t Pkcs11State::signMessage(std::uint32_t message) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = messages_.find(message);
  if (found == messages_.end()) return failWith(kBadHandle);
  Message& opened = found->second;
  if (opened.isSigned) return failWith(kMessageAlreadySigned);
  std::string error;
  if (!softtoken::signDetached(opened.session->credential, opened.data, opened.length,
                               opened.signedBytes, error)) {
    return module_.unlessRemoved(opened.session->key, failWith(kSigningFailed, error));
  }
  opened.isSigned = true;
  return kOk;
}

std::uint32_t Pkcs11State::signedMessage(std::uint32_t message, void* buffer,
                                         std::uint32_t& length) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = messages_.find(message);
  if (found == messages_.end()) return failWith(kBadHandle);
  if (!found->second.isSigned) return failWith(kMessageNotSigned);
  return copyOut(found->second.signedBytes, buffer, length);
}

std::uint32_t Pkcs11State::openCertificate(std::uint32_t provider, std::uint32_t& certificate) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = sessions_.find(provider);
  if (found == sessions_.end()) return failWith(kBadHandle);
  softtoken::Bytes der = softtoken::certificateDer(found->second->credential.certificate.get());
  if (der.empty()) return failWith(kTokenFailed, "the certificate cannot be encoded");
  certificate = nextHandle();
  certificates_[certificate] = std::move(der);
  return kOk;
}

std::uint32_t Pkcs11State::certificateBytes(std::uint32_t certificate, void* buffer,
                                            std::uint32_t& length) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = certificates_.find(certificate);
  if (found == certificates_.end()) return failWith(kBadHandle);
  return copyOut(found->second, buffer, length);
}

std::uint32_t Pkcs11State::closeHandle(std::uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.erase(handle) == 0 && certificates_.erase(handle) == 0) {
    return failWith(kBadHandle);
  }
  unloadWhenIdle();
  return kOk;
}

}  // namespace pkcs11token
