#include "vendor/tokens/credential.h"

#include <climits>

#include "vendor/tokens/token_status.h"

namespace tokens {

Bytes certificateDer(X509* certificate) {
  int length = i2d_X509(certificate, nullptr);
  if (length <= 0) return Bytes();
  Bytes der(static_cast<std::size_t>(length));
  unsigned char* out = der.data();
  i2d_X509(certificate, &out);
  return der;
}

bool signDetached(const Credential& credential, const void* data, std::size_t length,
                  Bytes& signedMessage, std::string& error) {
  static const unsigned char kNothing = 0;
  if (length > INT_MAX) {
    error = "the data is too large";
    return false;
  }
  // The data is read in place, never copied.
  BioPtr input(BIO_new_mem_buf(length == 0 ? &kNothing : data, static_cast<int>(length)));
  const unsigned int flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL;
  CmsPtr cms(input ? CMS_sign(nullptr, nullptr, credential.chain.get(), nullptr, flags) : nullptr);
  bool signedOk = cms &&
                  CMS_add1_signer(cms.get(), credential.certificate.get(), credential.key.get(),
                                  EVP_sha256(), flags) != nullptr &&
                  CMS_final(cms.get(), input.get(), nullptr, flags) == 1;
  int size = signedOk ? i2d_CMS_ContentInfo(cms.get(), nullptr) : -1;
  if (size <= 0) {
    error = takeOpenSslErrors();
    return false;
  }
  signedMessage.resize(static_cast<std::size_t>(size));
  unsigned char* out = signedMessage.data();
  i2d_CMS_ContentInfo(cms.get(), &out);
  return true;
}

}  // namespace tokens
