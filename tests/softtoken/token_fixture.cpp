#include "tests/softtoken/token_fixture.h"

#include "vendor/softtoken/openssl_ptr.h"

TempDir* TokenTest::store_ = nullptr;

bool verifiesDetached(const std::string& signedMessage, const std::string& data) {
  using namespace softtoken;
  const auto* bytes = reinterpret_cast<const unsigned char*>(signedMessage.data());
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &bytes, static_cast<long>(signedMessage.size())));
  BioPtr content(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  return cms && CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                           CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) == 1;
}
