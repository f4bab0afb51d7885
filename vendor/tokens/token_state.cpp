#include "vendor/tokens/token_state.h"

#include <cstring>
#include <limits>

#include "vendor/tokens/token_status.h"

namespace tokens {

std::uint32_t copyOut(const Bytes& bytes, void* buffer, std::uint32_t& length) {
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

std::uint32_t TokenState::nextHandle() {
  do {
    ++lastHandle_;
  } while (lastHandle_ == 0);
  return lastHandle_;
}

std::uint32_t TokenState::startup() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++startups_;
  return kOk;
}

std::uint32_t TokenState::shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (startups_ == 0) return failWith(kNotInitialised);
  --startups_;
  return kOk;
}

// The backend finds the credential, and asks the person, outside the lock:
// other sessions go on meanwhile.
std::uint32_t TokenState::login(const char* name, std::uint32_t& provider) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (startups_ == 0) return failWith(kNotInitialised);
  }
  std::shared_ptr<const Credential> credential;
  if (std::uint32_t status = backend_.open(name, credential)) return status;
  std::lock_guard<std::mutex> lock(mutex_);
  provider = nextHandle();
  sessions_[provider] = std::move(credential);
  return kOk;
}

// What is taken out of the tables is freed after the lock is let go: freeing
// a key may wait for the backend (a PIN dialog of another login).
std::uint32_t TokenState::logout(std::uint32_t provider) {
  std::shared_ptr<const Credential> ended;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = sessions_.find(provider);
  if (found == sessions_.end()) return failWith(kBadHandle);
  ended = std::move(found->second);
  sessions_.erase(found);
  return kOk;
}

std::shared_ptr<const Credential> TokenState::session(std::uint32_t provider) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = sessions_.find(provider);
  return found != sessions_.end() ? found->second : nullptr;
}

std::shared_ptr<TokenState::Message> TokenState::message(std::uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = messages_.find(handle);
  return found != messages_.end() ? found->second : nullptr;
}

// A message keeps its session's credential, so a logout in between never
// pulls the key from under it.
std::uint32_t TokenState::openMessage(std::uint32_t provider, const void* data,
                                      std::uint32_t length, std::uint32_t& message) {
  auto credential = session(provider);
  if (!credential) return failWith(kBadHandle);
  auto opened = std::make_shared<Message>();
  opened->credential = std::move(credential);
  opened->data = data;
  opened->length = length;
  std::lock_guard<std::mutex> lock(mutex_);
  message = nextHandle();
  messages_[message] = std::move(opened);
  return kOk;
}

std::uint32_t TokenState::signMessage(std::uint32_t handle) {
  auto found = message(handle);
  if (!found) return failWith(kBadHandle);
  std::lock_guard<std::mutex> lock(found->mutex);
  if (found->isSigned) return failWith(kMessageAlreadySigned);
  std::string error;
  std::unique_lock<std::mutex> keys = backend_.useKeys();
  if (!signDetached(*found->credential, found->data, found->length, found->signedBytes, error)) {
    return backend_.keyFailed(*found->credential, failWith(kSigningFailed, error));
  }
  found->isSigned = true;
  return kOk;
}

std::uint32_t TokenState::signedMessage(std::uint32_t handle, void* buffer, std::uint32_t& length) {
  auto found = message(handle);
  if (!found) return failWith(kBadHandle);
  std::lock_guard<std::mutex> lock(found->mutex);
  if (!found->isSigned) return failWith(kMessageNotSigned);
  return copyOut(found->signedBytes, buffer, length);
}

std::uint32_t TokenState::openCertificate(std::uint32_t provider, std::uint32_t& certificate) {
  auto credential = session(provider);
  if (!credential) return failWith(kBadHandle);
  auto der = std::make_shared<const Bytes>(certificateDer(credential->certificate.get()));
  if (der->empty()) return failWith(kTokenFailed, "the certificate cannot be encoded");
  std::lock_guard<std::mutex> lock(mutex_);
  certificate = nextHandle();
  certificates_[certificate] = std::move(der);
  return kOk;
}

std::uint32_t TokenState::certificateBytes(std::uint32_t certificate, void* buffer,
                                           std::uint32_t& length) {
  std::shared_ptr<const Bytes> der;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = certificates_.find(certificate);
    if (found == certificates_.end()) return failWith(kBadHandle);
    der = found->second;
  }
  return copyOut(*der, buffer, length);
}

std::uint32_t TokenState::closeHandle(std::uint32_t handle) {
  std::shared_ptr<Message> ended;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = messages_.find(handle);
  if (found != messages_.end()) {
    ended = std::move(found->second);
    messages_.erase(found);
  } else if (certificates_.erase(handle) == 0) {
    return failWith(kBadHandle);
  }
  return kOk;
}

}  // namespace tokens
