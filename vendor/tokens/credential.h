#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "vendor/tokens/openssl_ptr.h"

namespace tokens {

using Bytes = std::vector<unsigned char>;

// What a session signs with: the private key (in memory, or a handle the
// token's module works with), its certificate and any further certificates
// of its chain. Owns all three.
struct Credential {
  KeyPtr key;
  CertPtr certificate;
  CertStackPtr chain;
};

// The DER encoding of a certificate; empty when it cannot be encoded.
Bytes certificateDer(X509* certificate);

// Signs `length` bytes at `data` as CMS SignedData with SHA-256, the signer's
// certificate (and chain) and a signing-time attribute, the data detached.
// The DER bytes go to `signedMessage`; false with `error` set on failure.
bool signDetached(const Credential& credential, const void* data, std::size_t length,
                  Bytes& signedMessage, std::string& error);

}  // namespace tokens
