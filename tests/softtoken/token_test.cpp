// The software token in process over a private store; RSA keys and OpenSSL's
// verdict are the process-level tests' part.
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tools/self_signed.h"
#include "vendor/av_crypt_mail.h"
#include "vendor/tokens/openssl_ptr.h"
#include "vendor/tokens/software/container_store.h"
#include "vendor/tokens/token_status.h"

namespace {

using namespace tokens;
using namespace tokens::software;

TempDir store;

class TokenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv(kStoreVariable, store.path().c_str(), 1);
    Credential credential;
    std::string error;
    ASSERT_TRUE(makeSelfSigned("ec", {}, credential, error)) << error;
    ASSERT_TRUE(saveContainer(store.path(), "ec", credential, true, error)) << error;
    ASSERT_TRUE(setDefaultContainer(store.path(), "ec", error)) << error;
    std::ofstream(store.path() + "/broken.p12") << "not a container";
    std::filesystem::create_directory(store.path() + "/dir.p12");
  }
  static std::string errorText(std::uint32_t status) {
    char buffer[4096];
    std::uint32_t size = sizeof buffer;
    return AvCmGetErrorInfo(0, status, 2, buffer, &size, 8) == 0 ? buffer : "";
  }
};

CmsPtr parseCms(const std::string& der) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  return CmsPtr(d2i_CMS_ContentInfo(nullptr, &bytes, static_cast<long>(der.size())));
}

bool verifies(CMS_ContentInfo* cms, const std::string& data) {
  BioPtr content(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  return cms != nullptr && CMS_verify(cms, nullptr, nullptr, content.get(), nullptr,
                                      CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) == 1;
}

TEST_F(TokenTest, LoginNeedsAStartupAndAUsableContainerAndErrorsHaveTexts) {
  std::uint32_t provider = 0;
  EXPECT_EQ(kNotInitialised, AvCmLogin(0, nullptr, &provider, 0));
  EXPECT_EQ(kBadParameter, AvCmInit(3));
  ASSERT_EQ(0u, AvCmInit(AVCMF_STARTUP));
  const std::pair<const char*, std::uint32_t> kNames[] = {
      {"broken", kContainerUnreadable}, {".ec", kBadContainerName}, {"x/../ec", kBadContainerName},
      {"", kBadContainerName},          {nullptr, kBadParameter},   {"dir", kContainerUnreadable}};
  for (const auto& [name, expected] : kNames) {
    AvCmLoginParam record{AVCM_PARAM_CONTAINER_NAME, name};
    std::uint32_t status = AvCmLogin(1, &record, &provider, 0);
    EXPECT_EQ(expected, status) << (name != nullptr ? name : "null") << ": " << errorText(status);
  }
  // Only the latest failure's own status shows its detail.
  EXPECT_EQ("Key container cannot be read: dir: not a readable file",
            errorText(kContainerUnreadable));
  EXPECT_EQ("Key container not found", errorText(kContainerNotFound));
  AvCmLoginParam record{AVCM_PARAM_CONTAINER_NAME, "ec"};
  EXPECT_EQ(kBadParameter, AvCmLogin(2, &record, &provider, 0));
  EXPECT_EQ(kBadParameter, AvCmLogin(1, &record, &provider, 1));
  record.code = 0x1010;
  EXPECT_EQ(kBadParameter, AvCmLogin(1, &record, &provider, 0));
  EXPECT_EQ(0u, AvCmInit(AVCMF_SHUTDOWN));
  EXPECT_EQ(kNotInitialised, AvCmInit(AVCMF_SHUTDOWN));

  char buffer[8];
  std::uint32_t size = sizeof buffer;
  EXPECT_EQ(kUnknownStatus, AvCmGetErrorInfo(0, 0x1234, 2, buffer, &size, 8));
  EXPECT_EQ(kBufferTooSmall, AvCmGetErrorInfo(0, kBadHandle, 2, buffer, &size, 8));
  EXPECT_EQ(sizeof "Invalid handle", size);
  size = sizeof buffer;
  EXPECT_EQ(kBadParameter, AvCmGetErrorInfo(0, kBadHandle, 1, buffer, &size, 8));
  EXPECT_EQ(kBadParameter, AvCmGetErrorInfo(0, kBadHandle, 2, nullptr, &size, 8));
}

// A message outlives its session.
TEST_F(TokenTest, OperationsRefuseBadArgumentsHandlesAndOrder) {
  std::uint32_t provider = 0;
  ASSERT_EQ(0u, AvCmInit(AVCMF_STARTUP));
  ASSERT_EQ(0u, AvCmLogin(0, nullptr, &provider, 0));  // the default container, "ec"
  std::uint32_t certificate = 0;
  std::uint32_t size = 2;
  EXPECT_EQ(kBufferTooSmall, AvCmGetObjectInfo(provider, 8, &certificate, &size, 0));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(kBadParameter, AvCmGetObjectInfo(provider, 7, &certificate, &size, 0));
  ASSERT_EQ(0u, AvCmGetObjectInfo(provider, 8, &certificate, &size, 0));
  std::uint32_t message = 0;
  EXPECT_EQ(kBadParameter, AvCmOpenMsg(provider, "abc", 3, &message, 0));
  EXPECT_EQ(kBadParameter, AvCmOpenMsg(provider, nullptr, 3, &message, 0x100));
  EXPECT_EQ(kBadParameter, AvCmOpenMsg(provider, "abc", 3, nullptr, 0x100));
  ASSERT_EQ(0u, AvCmOpenMsg(provider, nullptr, 0, &message, 0x100));
  EXPECT_EQ(0u, AvCmCloseHandle(message, 0));
  ASSERT_EQ(0u, AvCmOpenMsg(provider, "abc", 3, &message, 0x100));
  std::uint32_t length = 0;
  EXPECT_EQ(kBadHandle, AvCmOpenMsg(0, "x", 1, &message, 0x100));
  EXPECT_EQ(kBadHandle, AvCmGetMsg(0, nullptr, &length, 0x2000));
  EXPECT_EQ(kBadHandle, AvCmGetObjectInfo(0, 8, &certificate, &size, 0));
  EXPECT_EQ(kBadHandle, AvCmCloseHandle(provider, 0));
  EXPECT_EQ(kBadHandle, AvCmMsgSign(certificate, 0x2100000));
  EXPECT_EQ(kBadHandle, AvCmGetCertAttr(message, 45, 0, nullptr, &length, 0));
  EXPECT_EQ(kBadHandle, AvCmLogout(message, 0));
  EXPECT_EQ(0u, AvCmLogout(provider, 0));
  EXPECT_EQ(0u, AvCmInit(AVCMF_SHUTDOWN));
  EXPECT_EQ(kBadHandle, AvCmLogout(provider, 0));

  EXPECT_EQ(kBadParameter, AvCmGetCertAttr(certificate, 44, 0, nullptr, &length, 0));
  EXPECT_EQ(kBadParameter, AvCmGetCertAttr(certificate, 45, 1, nullptr, &length, 0));
  ASSERT_EQ(0u, AvCmGetCertAttr(certificate, 45, 0, nullptr, &length, 0));
  EXPECT_EQ(0u, AvCmCloseHandle(certificate, 0));
  EXPECT_EQ(kBadHandle, AvCmGetCertAttr(certificate, 45, 0, nullptr, &length, 0));

  EXPECT_EQ(kMessageNotSigned, AvCmGetMsg(message, nullptr, &length, 0x2000));
  EXPECT_EQ(kBadParameter, AvCmMsgSign(message, 0x2000000));
  ASSERT_EQ(0u, AvCmMsgSign(message, 0x2100000));
  EXPECT_EQ(kMessageAlreadySigned, AvCmMsgSign(message, 0x2100000));
  EXPECT_EQ(kBadParameter, AvCmGetMsg(message, nullptr, &length, 0));
  EXPECT_EQ(kBadParameter, AvCmGetMsg(message, nullptr, nullptr, 0x2000));
  ASSERT_EQ(0u, AvCmGetMsg(message, nullptr, &length, 0x2000));
  std::string der(length, '\0');
  std::uint32_t tooShort = length - 1;
  EXPECT_EQ(kBufferTooSmall, AvCmGetMsg(message, der.data(), &tooShort, 0x2000));
  EXPECT_EQ(length, tooShort);
  ASSERT_EQ(0u, AvCmGetMsg(message, der.data(), &length, 0x2000));
  EXPECT_TRUE(verifies(parseCms(der).get(), "abc"));
  EXPECT_EQ(0u, AvCmCloseHandle(message, 0));
  EXPECT_EQ(kBadHandle, AvCmCloseHandle(message, 0));
}

// Several threads at once; a detached signature does not grow with the data.
TEST_F(TokenTest, ConcurrentSignaturesVerifyAndAreDetachedSha256) {
  std::vector<std::thread> threads;
  for (std::size_t size : {0, 3, 4 << 20, 1, 100, 1000}) {
    threads.emplace_back([size] {
      for (int round = 0; round < 8; ++round) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + round);
        std::uint32_t provider = 0;
        EXPECT_EQ(0u, AvCmInit(AVCMF_STARTUP));
        EXPECT_EQ(0u, AvCmLogin(0, nullptr, &provider, 0));
        std::uint32_t message = 0;
        std::uint32_t length = 16384;
        std::string der(length, '\0');
        EXPECT_EQ(0u, AvCmOpenMsg(provider, data.data(), data.size(), &message, 0x100));
        EXPECT_EQ(0u, AvCmMsgSign(message, 0x2100000));
        EXPECT_EQ(0u, AvCmGetMsg(message, der.data(), &length, 0x2000));
        der.resize(length);
        EXPECT_EQ(0u, AvCmCloseHandle(message, 0));
        EXPECT_EQ(0u, AvCmLogout(provider, 0));
        EXPECT_EQ(0u, AvCmInit(AVCMF_SHUTDOWN));
        EXPECT_LT(der.size(), 4096u);
        CmsPtr cms = parseCms(der);
        ASSERT_TRUE(verifies(cms.get(), data)) << size;
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
        X509_ALGOR* digest = nullptr;
        CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digest, nullptr);
        EXPECT_EQ(NID_sha256, OBJ_obj2nid(digest->algorithm));
        EXPECT_GE(CMS_signed_get_attr_by_NID(signer, NID_pkcs9_signingTime, -1), 0);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace
