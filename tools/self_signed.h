#pragma once

#include <string>

#include "vendor/tokens/credential.h"

// New keys and self-signed certificates for the key container tool.
namespace tokens {

struct NewCredentialOptions {
  int rsaBits = 0;      // 0: an ECDSA P-256 key; else an RSA key of that many bits (>= 2048)
  std::string subject;  // "/CN=.../O=..." (OpenSSL's one-line form); empty: "/CN=<name>"
  int days = 730;       // validity from now
};

// A new key pair and a certificate for it, signed with SHA-256 by the key
// itself (end entity: no CA, key usage digital signature and non-repudiation).
// False with a readable `error` on failure.
bool makeSelfSigned(const std::string& name, const NewCredentialOptions& options, Credential& out,
                    std::string& error);

// "/CN=a/O=b" as an X.509 name (UTF-8 values); nullptr for a malformed text.
NamePtr parseSubject(const std::string& text);

// The certificate's subject as one RFC 2253 line, and its expiry as
// "YYYY-MM-DD HH:MM:SS UTC".
std::string subjectLine(X509* certificate);
std::string expiryText(X509* certificate);

}  // namespace tokens
