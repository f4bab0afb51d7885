#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vendor/softtoken/openssl_ptr.h"

namespace softtoken {

using Bytes = std::vector<unsigned char>;

// The contents of one key container: the private key, its certificate and
// any further certificates of its chain. Owns all three.
struct Credential {
  KeyPtr key;
  CertPtr certificate;
  CertStackPtr chain;
};

// Reads a PKCS#12 file's bytes with `password` (UTF-8, "" for none). False
// with a readable reason in `error` when it does not parse or lacks a key, a
// certificate, or a certificate matching the key.
bool readPkcs12(const std::string& bytes, const char* password, Credential& out,
                std::string& error);

// True when the PKCS#12 bytes open with a password other than the empty one
// (or none).
bool needsPassword(const std::string& bytes);

// The credential as PKCS#12 bytes protected by `password` ("" for the empty
// one, when the file mode alone protects the container); empty with `error`
// set on failure.
std::string writePkcs12(const Credential& credential, const std::string& friendlyName,
                        const char* password, std::string& error);

// The DER encoding of a certificate; empty when it cannot be encoded.
Bytes certificateDer(X509* certificate);

// Signs `length` bytes at `data` as CMS SignedData with SHA-256, the signer's
// certificate (and chain) and a signing-time attribute, the data detached.
// The DER bytes go to `signedMessage`; false with `error` set on failure.
bool signDetached(const Credential& credential, const void* data, std::size_t length,
                  Bytes& signedMessage, std::string& error);

}  // namespace softtoken
