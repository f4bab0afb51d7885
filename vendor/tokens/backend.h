#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "vendor/tokens/credential.h"

namespace tokens {

// What one token library adds to the shared handle table and signer: finding
// and unlocking a credential, and keeping alive whatever its key needs.
class Backend {
 public:
  Backend() = default;
  virtual ~Backend() = default;
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  // The credential of a new session on `name` (UTF-8; nullptr: the default
  // one), after asking the person as the credential requires. Returns kOk or
  // a status already given to failWith. The credential may hold what its key
  // needs (a loaded module) until its last owner lets go.
  virtual std::uint32_t open(const char* name, std::shared_ptr<const Credential>& out) = 0;

  // Held while a credential's key is used: empty when keys may be used by
  // several threads at once.
  virtual std::unique_lock<std::mutex> useKeys() { return {}; }

  // The status to report when using the credential's key failed with
  // `status`; called while useKeys() is held.
  virtual std::uint32_t keyFailed(const Credential& credential, std::uint32_t status) {
    (void)credential;
    return status;
  }
};

// The library's one backend, defined by each token library. It is never
// destroyed: at exit a module may already have torn down its own state, so
// nothing may call into it from a static destructor.
Backend& backend();

}  // namespace tokens
