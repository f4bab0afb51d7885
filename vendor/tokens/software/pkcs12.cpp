#include "vendor/tokens/software/pkcs12.h"

#include "vendor/tokens/token_status.h"

namespace tokens::software {
namespace {

// PKCS12_parse hands out raw pointers; they are owned here at once.
bool parse(PKCS12* p12, const char* password, Credential& out) {
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  STACK_OF(X509)* chain = nullptr;
  int parsed = PKCS12_parse(p12, password, &key, &certificate, &chain);
  out.key.reset(key);
  out.certificate.reset(certificate);
  out.chain.reset(chain);
  return parsed == 1;
}

Pkcs12Ptr decodePkcs12(const std::string& bytes) {
  BioPtr input(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  return Pkcs12Ptr(input ? d2i_PKCS12_bio(input.get(), nullptr) : nullptr);
}

}  // namespace

bool needsPassword(const std::string& bytes) {
  Pkcs12Ptr p12 = decodePkcs12(bytes);
  bool needed = p12 && PKCS12_mac_present(p12.get()) == 1 &&
                PKCS12_verify_mac(p12.get(), "", 0) != 1 &&
                PKCS12_verify_mac(p12.get(), nullptr, 0) != 1;
  takeOpenSslErrors();
  return needed;
}

bool readPkcs12(const std::string& bytes, const char* password, Credential& out,
                std::string& error) {
  Pkcs12Ptr p12 = decodePkcs12(bytes);
  if (!p12) {
    error = "not a PKCS#12 file (" + takeOpenSslErrors() + ")";
    return false;
  }
  if (!parse(p12.get(), password, out)) {
    error = "cannot open the PKCS#12 file (" + takeOpenSslErrors() + ")";
    return false;
  }
  if (!out.key || !out.certificate) {
    error = "the PKCS#12 file holds no private key or no certificate";
    return false;
  }
  if (X509_check_private_key(out.certificate.get(), out.key.get()) != 1) {
    takeOpenSslErrors();
    error = "the certificate does not belong to the private key";
    return false;
  }
  return true;
}

std::string writePkcs12(const Credential& credential, const std::string& friendlyName,
                        const char* password, std::string& error) {
  Pkcs12Ptr p12(PKCS12_create(password, friendlyName.c_str(), credential.key.get(),
                              credential.certificate.get(), credential.chain.get(), 0, 0, 0, 0, 0));
  unsigned char* der = nullptr;
  int length = p12 ? i2d_PKCS12(p12.get(), &der) : -1;
  if (length <= 0) {
    error = "cannot build the PKCS#12 file (" + takeOpenSslErrors() + ")";
    return std::string();
  }
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

}  // namespace tokens::software
