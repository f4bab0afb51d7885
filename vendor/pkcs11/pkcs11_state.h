#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "vendor/pkcs11/token_module.h"

// The PKCS#11 library's per-process state: the start-up counter, the open
// sessions, messages and certificate handles (fresh non-zero numbers from one
// counter, never reused) and the module. The module is loaded at the first
// login and unloaded when nothing is open any more, so a token plugged in
// meanwhile is seen by the next login. Safe to call from several threads:
// one call at a time reaches the module, a login waiting for its PIN too.
namespace pkcs11token {

class Pkcs11State {
 public:
  std::uint32_t startup();
  std::uint32_t shutdown();
  // `name` empty: the configured default key, else the only key.
  std::uint32_t login(const std::string& name, std::uint32_t& provider);
  std::uint32_t logout(std::uint32_t provider);
  // `data` is borrowed: it must stay allocated until the message is signed.
  std::uint32_t openMessage(std::uint32_t provider, const void* data, std::uint32_t length,
                            std::uint32_t& message);
  std::uint32_t signMessage(std::uint32_t message);
  // Two-call size protocol: null `buffer` reports the size in `length`.
  std::uint32_t signedMessage(std::uint32_t message, void* buffer, std::uint32_t& length);
  std::uint32_t openCertificate(std::uint32_t provider, std::uint32_t& certificate);
  std::uint32_t certificateBytes(std::uint32_t certificate, void* buffer, std::uint32_t& length);
  std::uint32_t closeHandle(std::uint32_t handle);

 private:
  struct Session {
    TokenKey key;
    softtoken::Credential credential;
  };
  struct Message {
    std::shared_ptr<const Session> session;
    const void* data = nullptr;
    std::uint32_t length = 0;
    bool isSigned = false;
    softtoken::Bytes signedBytes;
  };

  std::uint32_t nextHandle();
  void unloadWhenIdle();

  std::mutex mutex_;
  TokenModule module_;
  std::uint32_t startups_ = 0;
  std::uint32_t lastHandle_ = 0x20000;
  std::map<std::uint32_t, std::shared_ptr<const Session>> sessions_;
  std::map<std::uint32_t, Message> messages_;
  std::map<std::uint32_t, softtoken::Bytes> certificates_;
};

}  // namespace pkcs11token
