#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "vendor/tokens/backend.h"

// A token library's per-process state: the start-up counter and the open
// sessions, messages and certificate handles. Every handle is a fresh
// non-zero number, never reused, from one counter for all three kinds, so a
// handle of one kind is never taken for another. Safe to call from several
// threads; the backend is asked outside the state's lock.
namespace tokens {

class TokenState {
 public:
  explicit TokenState(Backend& backend) : backend_(backend) {}

  std::uint32_t startup();
  std::uint32_t shutdown();
  // `name` null: the backend's default credential.
  std::uint32_t login(const char* name, std::uint32_t& provider);
  std::uint32_t logout(std::uint32_t provider);
  // `data` is borrowed: it must stay allocated until the message is signed.
  std::uint32_t openMessage(std::uint32_t provider, const void* data, std::uint32_t length,
                            std::uint32_t& message);
  std::uint32_t signMessage(std::uint32_t handle);
  // Two-call size protocol: null `buffer` reports the size in `length`.
  std::uint32_t signedMessage(std::uint32_t handle, void* buffer, std::uint32_t& length);
  std::uint32_t openCertificate(std::uint32_t provider, std::uint32_t& certificate);
  std::uint32_t certificateBytes(std::uint32_t certificate, void* buffer, std::uint32_t& length);
  // Closes a message or certificate handle.
  std::uint32_t closeHandle(std::uint32_t handle);

 private:
  struct Message {
    std::mutex mutex;  // one signing at a time per message
    std::shared_ptr<const Credential> credential;
    const void* data = nullptr;
    std::uint32_t length = 0;
    bool isSigned = false;
    Bytes signedBytes;
  };

  std::uint32_t nextHandle();
  std::shared_ptr<const Credential> session(std::uint32_t provider);
  std::shared_ptr<Message> message(std::uint32_t handle);

  Backend& backend_;
  std::mutex mutex_;
  std::uint32_t startups_ = 0;
  std::uint32_t lastHandle_ = 0x10000;
  std::map<std::uint32_t, std::shared_ptr<const Credential>> sessions_;
  std::map<std::uint32_t, std::shared_ptr<Message>> messages_;
  std::map<std::uint32_t, std::shared_ptr<const Bytes>> certificates_;
};

// Copies `bytes` to `buffer` under the two-call size protocol.
std::uint32_t copyOut(const Bytes& bytes, void* buffer, std::uint32_t& length);

}  // namespace tokens
