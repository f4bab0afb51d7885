#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/softtoken/token_fixture.h"
#include "vendor/softtoken/openssl_ptr.h"
#include "vendor/softtoken/token_status.h"

namespace {

using namespace softtoken;

CmsPtr parseCms(const std::string& der) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  return CmsPtr(d2i_CMS_ContentInfo(nullptr, &bytes, static_cast<long>(der.size())));
}

struct SignCase {
  const char* name;
  const char* container;
  std::size_t size;
};

void PrintTo(const SignCase& c, std::ostream* out) { *out << c.name; }

class SignTest : public TokenTest, public ::testing::WithParamInterface<SignCase> {};

TEST_P(SignTest, DetachedSignatureVerifiesOnlyAgainstTheSignedData) {
  std::uint32_t provider = open(GetParam().container);
  ASSERT_NE(0u, provider);
  std::string data(GetParam().size, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 1);
  std::string signedMessage = sign(provider, data);
  close(provider);
  ASSERT_FALSE(signedMessage.empty());
  EXPECT_TRUE(verifiesDetached(signedMessage, data));
  EXPECT_FALSE(verifiesDetached(signedMessage, data + "!"));
  // Detached: the answer does not grow with the data.
  EXPECT_LT(signedMessage.size(), 4096u);
}

const SignCase kSignCases[] = {
    {"Rsa", "rsa", 3},
    {"EcdsaEmpty", "ec", 0},
    {"FourMebibytes", "ec", 4 << 20},
};
INSTANTIATE_TEST_SUITE_P(Token, SignTest, ::testing::ValuesIn(kSignCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TokenTest, SignedMessageCarriesSha256CertificateAndSigningTime) {
  std::uint32_t provider = open("ec");
  ASSERT_NE(0u, provider);
  CmsPtr cms = parseCms(sign(provider, "abc"));
  close(provider);
  ASSERT_TRUE(cms);
  EXPECT_EQ(NID_pkcs7_signed, OBJ_obj2nid(CMS_get0_type(cms.get())));
  EXPECT_EQ(1, CMS_is_detached(cms.get()));
  CertStackPtr certificates(CMS_get1_certs(cms.get()));
  ASSERT_TRUE(certificates);
  EXPECT_EQ("CN=ec", subjectLine(sk_X509_value(certificates.get(), 0)));
  CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
  ASSERT_NE(nullptr, signer);
  X509_ALGOR* digest = nullptr;
  CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digest, nullptr);
  const ASN1_OBJECT* algorithm = nullptr;
  X509_ALGOR_get0(&algorithm, nullptr, nullptr, digest);
  EXPECT_EQ(NID_sha256, OBJ_obj2nid(algorithm));
  EXPECT_GE(CMS_signed_get_attr_by_NID(signer, NID_pkcs9_signingTime, -1), 0);
}

TEST_F(TokenTest, MessageStatesAndArgumentsAreChecked) {
  std::uint32_t provider = open("ec");
  ASSERT_NE(0u, provider);
  std::uint32_t message = 0;
  EXPECT_EQ(kBadParameter, AvCmOpenMsg(provider, "abc", 3, &message, 0));
  EXPECT_EQ(kBadParameter, AvCmOpenMsg(provider, nullptr, 3, &message, 0x100));
  EXPECT_EQ(kBadParameter, AvCmOpenMsg(provider, "abc", 3, nullptr, 0x100));
  ASSERT_EQ(0u, AvCmOpenMsg(provider, "abc", 3, &message, 0x100));
  std::uint32_t length = 0;
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
  EXPECT_TRUE(verifiesDetached(der, "abc"));
  EXPECT_EQ(0u, AvCmCloseHandle(message, 0));
  close(provider);
}

TEST_F(TokenTest, OpenMessageOutlivesItsSession) {
  std::uint32_t provider = open("ec");
  ASSERT_NE(0u, provider);
  std::uint32_t message = 0;
  ASSERT_EQ(0u, AvCmOpenMsg(provider, "abc", 3, &message, 0x100));
  close(provider);
  EXPECT_EQ(0u, AvCmMsgSign(message, 0x2100000));
  EXPECT_EQ(0u, AvCmCloseHandle(message, 0));
}

TEST_F(TokenTest, ConcurrentSessionsSignIndependently) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 10;
  std::atomic<int> verified{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &verified] {
      for (int round = 0; round < kRounds; ++round) {
        std::string data = "thread " + std::to_string(t) + " round " + std::to_string(round);
        std::uint32_t provider = open(t % 2 == 0 ? "ec" : "rsa");
        if (provider == 0) continue;
        std::string signedMessage = sign(provider, data);
        if (AvCmLogout(provider, 0) == 0 && AvCmInit(AVCMF_SHUTDOWN) == 0 &&
            verifiesDetached(signedMessage, data)) {
          ++verified;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(kThreads * kRounds, verified.load());
}

}  // namespace
