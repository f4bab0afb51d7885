// The PKCS#11 token library's backend: a credential is a key on a token of
// the configured module, logged in with the token's PIN. The module is loaded
// at the first login and unloaded when the last credential is let go, so a
// token plugged in meanwhile is seen by the next login; one call at a time
// reaches it, a login waiting for its PIN too. At exit the module stays
// loaded: its own clean-up runs then, in an order that is not ours.
#include <cstdint>

#include "vendor/tokens/backend.h"
#include "vendor/tokens/pkcs11/token_module.h"
#include "vendor/tokens/token_status.h"

namespace tokens::pkcs11 {
namespace {

// A credential remembers its key, to tell a removed token from a failure.
struct TokenCredential : Credential {
  TokenKey tokenKey;
};

class Pkcs11Backend : public Backend {
 public:
  std::uint32_t open(const char* name, std::shared_ptr<const Credential>& out) override {
    if (name != nullptr && *name == '\0') return failWith(kKeyNotFound, "empty name");
    std::lock_guard<std::mutex> lock(mutex_);
    auto made = std::make_unique<TokenCredential>();
    std::uint32_t status = module_.load();
    if (status == kOk) status = module_.find(name != nullptr ? name : "", made->tokenKey);
    if (status == kOk) status = module_.logIn(made->tokenKey);
    if (status == kOk) status = module_.credential(made->tokenKey, *made);
    if (status != kOk) {
      made.reset();
      if (live_ == 0) module_.unload();
      return status;
    }
    ++live_;
    // The last owner frees the key while no other call is in the module.
    out = std::shared_ptr<const TokenCredential>(made.release(), [this](const TokenCredential* c) {
      std::lock_guard<std::mutex> released(mutex_);
      delete c;
      if (--live_ == 0) module_.unload();
    });
    return kOk;
  }

  std::unique_lock<std::mutex> useKeys() override { return std::unique_lock<std::mutex>(mutex_); }

  std::uint32_t keyFailed(const Credential& credential, std::uint32_t status) override {
    return module_.unlessRemoved(static_cast<const TokenCredential&>(credential).tokenKey, status);
  }

 private:
  std::mutex mutex_;
  TokenModule module_;
  std::uint64_t live_ = 0;  // credentials handed out and not yet freed
};

}  // namespace
}  // namespace tokens::pkcs11

tokens::Backend& tokens::backend() {
  static Backend& pkcs11 = *new pkcs11::Pkcs11Backend;
  return pkcs11;
}
