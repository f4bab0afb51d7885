#pragma once

#include <memory>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

// Owning pointers for the OpenSSL objects the token libraries and their tools handle.
namespace tokens {

struct OpenSslFree {
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(PKCS12* p) const { PKCS12_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_NAME* p) const { X509_NAME_free(p); }
  void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
};

using BioPtr = std::unique_ptr<BIO, OpenSslFree>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OpenSslFree>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OpenSslFree>;
using CertPtr = std::unique_ptr<X509, OpenSslFree>;
using NamePtr = std::unique_ptr<X509_NAME, OpenSslFree>;
using CertStackPtr = std::unique_ptr<STACK_OF(X509), OpenSslFree>;

}  // namespace tokens
