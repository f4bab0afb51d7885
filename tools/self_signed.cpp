#include "tools/self_signed.h"

#include <ctime>

#include <openssl/bn.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "vendor/tokens/token_status.h"

namespace tokens {
namespace {

KeyPtr newKey(int rsaBits) {
  if (rsaBits == 0) return KeyPtr(EVP_EC_gen("P-256"));
  return KeyPtr(EVP_RSA_gen(static_cast<unsigned int>(rsaBits)));
}

// A random positive 127-bit serial number.
bool setRandomSerial(X509* certificate) {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
  bytes[0] &= 0x7F;
  std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(BN_bin2bn(bytes, sizeof bytes, nullptr),
                                                     BN_free);
  return serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr;
}

bool addExtension(X509* certificate, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  bool added = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

bool fillCertificate(X509* certificate, EVP_PKEY* key, X509_NAME* subject, int days) {
  const long seconds = 60L * 60 * 24 * days;
  return X509_set_version(certificate, 2) == 1 && setRandomSerial(certificate) &&
         X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr &&
         X509_gmtime_adj(X509_getm_notAfter(certificate), seconds) != nullptr &&
         X509_set_subject_name(certificate, subject) == 1 &&
         X509_set_issuer_name(certificate, subject) == 1 &&
         X509_set_pubkey(certificate, key) == 1 &&
         addExtension(certificate, NID_basic_constraints, "critical,CA:FALSE") &&
         addExtension(certificate, NID_key_usage, "critical,digitalSignature,nonRepudiation") &&
         addExtension(certificate, NID_subject_key_identifier, "hash") &&
         X509_sign(certificate, key, EVP_sha256()) > 0;
}

}  // namespace

NamePtr parseSubject(const std::string& text) {
  if (text.empty() || text[0] != '/') return nullptr;
  NamePtr name(X509_NAME_new());
  std::size_t at = 1;
  while (name && at < text.size()) {
    std::size_t end = text.find('/', at);
    std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::size_t equals = part.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == part.size()) return nullptr;
    std::string value = part.substr(equals + 1);
    if (X509_NAME_add_entry_by_txt(name.get(), part.substr(0, equals).c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                   0) != 1) {
      takeOpenSslErrors();
      return nullptr;
    }
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return name && X509_NAME_entry_count(name.get()) > 0 ? std::move(name) : nullptr;
}

bool makeSelfSigned(const std::string& name, const NewCredentialOptions& options, Credential& out,
                    std::string& error) {
  if (options.rsaBits != 0 && options.rsaBits < 2048) {
    error = "RSA keys need at least 2048 bits";
    return false;
  }
  NamePtr subject = parseSubject(options.subject.empty() ? "/CN=" + name : options.subject);
  if (!subject) {
    error = "the subject must look like /CN=name/O=organisation";
    return false;
  }
  out.key = newKey(options.rsaBits);
  out.certificate.reset(X509_new());
  if (!out.key || !out.certificate ||
      !fillCertificate(out.certificate.get(), out.key.get(), subject.get(), options.days)) {
    error = "cannot make the key or the certificate (" + takeOpenSslErrors() + ")";
    return false;
  }
  return true;
}

std::string subjectLine(X509* certificate) {
  BioPtr out(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(out.get(), X509_get_subject_name(certificate), 0,
                     XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* text = nullptr;
  long length = BIO_get_mem_data(out.get(), &text);
  return std::string(text, static_cast<std::size_t>(length));
}

std::string expiryText(X509* certificate) {
  std::tm expiry{};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &expiry) != 1) return "unknown";
  char text[32];
  (void)std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &expiry);
  return text;
}

}  // namespace tokens
