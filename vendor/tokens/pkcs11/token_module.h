#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <libp11.h>

#include "vendor/tokens/credential.h"

// One loaded PKCS#11 module (through libp11) and the keys of its tokens. A
// key is a private key and its certificate with the same CKA_ID, named
// "token label/key label", or by the key label alone when that is unique.
// Not thread-safe: the caller serialises every call. Slot pointers stay
// valid until unload().
namespace tokens::pkcs11 {

struct TokenKey {
  PKCS11_SLOT* slot = nullptr;
  std::string token;  // token label, UTF-8
  std::string label;  // key label, UTF-8
  Bytes id;
  CertPtr certificate;
};

class TokenModule {
 public:
  TokenModule() = default;
  ~TokenModule() { unload(); }
  TokenModule(const TokenModule&) = delete;
  TokenModule& operator=(const TokenModule&) = delete;

  // Loads the configured module and lists its slots, unless loaded already.
  std::uint32_t load();
  void unload();

  // Finds the key `name`; an empty name takes the configured default, else
  // the only key there is.
  std::uint32_t find(const std::string& name, TokenKey& key);
  // Logs in to the key's token unless it is logged in: the PIN pad of a
  // token with a protected authentication path, else a PIN asked through
  // pinentry (wiped after use).
  std::uint32_t logIn(const TokenKey& key);
  // The private key (the token does its operations) and the certificate.
  std::uint32_t credential(const TokenKey& key, Credential& out);
  // kTokenRemoved when the key's token is gone, else `status`.
  std::uint32_t unlessRemoved(const TokenKey& key, std::uint32_t status);

 private:
  std::vector<TokenKey> keys();
  std::uint32_t findNamed(const std::string& name, TokenKey& key);

  PKCS11_CTX* context_ = nullptr;
  PKCS11_SLOT* slots_ = nullptr;
  unsigned int slotCount_ = 0;
  std::string defaultKey_;
};

}  // namespace tokens::pkcs11
