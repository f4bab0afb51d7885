#pragma once

#include <string>

#include "vendor/tokens/credential.h"

// Key containers' file format: PKCS#12 bytes.
namespace tokens::software {

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

}  // namespace tokens::software
