#include <cstring>
#include <string>

#include "tests/softtoken/token_fixture.h"
#include "vendor/softtoken/token_status.h"

namespace {

using namespace softtoken;

TEST_F(TokenTest, ShutdownOrLoginWithoutStartupFails) {
  std::uint32_t provider = 0;
  EXPECT_EQ(kNotInitialised, AvCmLogin(0, nullptr, &provider, 0));
  EXPECT_EQ(0u, AvCmInit(AVCMF_STARTUP));
  EXPECT_EQ(0u, AvCmInit(AVCMF_SHUTDOWN));
  EXPECT_EQ(kNotInitialised, AvCmInit(AVCMF_SHUTDOWN));
  EXPECT_EQ(kBadParameter, AvCmInit(3));
}

struct LoginCase {
  const char* name;
  std::uint32_t count;
  std::uint32_t code;
  const char* container;  // nullptr: a null value pointer
  std::uint32_t flags;
  std::uint32_t expected;
};

void PrintTo(const LoginCase& c, std::ostream* out) { *out << c.name; }

class LoginTest : public TokenTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(LoginTest, StatusMatchesTheContainer) {
  const LoginCase& c = GetParam();
  AvCmLoginParam record{c.code, c.container};
  std::uint32_t provider = 0;
  ASSERT_EQ(0u, AvCmInit(AVCMF_STARTUP));
  std::uint32_t status = AvCmLogin(c.count, c.count == 0 ? nullptr : &record, &provider, c.flags);
  EXPECT_EQ(c.expected, status) << errorText(status);
  EXPECT_FALSE(errorText(status).empty());
  if (status == 0) {
    EXPECT_NE(0u, provider);
    EXPECT_EQ(0u, AvCmLogout(provider, 0));
  }
  EXPECT_EQ(0u, AvCmInit(AVCMF_SHUTDOWN));
}

const LoginCase kLoginCases[] = {
    {"NamedContainer", 1, AVCM_PARAM_CONTAINER_NAME, "rsa", 0, kOk},
    {"DefaultContainerWithoutName", 0, 0, nullptr, 0, kOk},
    {"MissingContainer", 1, AVCM_PARAM_CONTAINER_NAME, "missing", 0, kContainerNotFound},
    {"ContainerThatIsNoPkcs12", 1, AVCM_PARAM_CONTAINER_NAME, "broken", 0, kContainerUnreadable},
    {"ContainerThatIsADirectory", 1, AVCM_PARAM_CONTAINER_NAME, "dir", 0, kContainerUnreadable},
    {"NameLeavingTheStore", 1, AVCM_PARAM_CONTAINER_NAME, "../ec", 0, kBadContainerName},
    {"HiddenName", 1, AVCM_PARAM_CONTAINER_NAME, ".ec", 0, kBadContainerName},
    {"EmptyName", 1, AVCM_PARAM_CONTAINER_NAME, "", 0, kBadContainerName},
    {"NullName", 1, AVCM_PARAM_CONTAINER_NAME, nullptr, 0, kBadParameter},
    {"OtherParameterCode", 1, 0x1010, "ec", 0, kBadParameter},
    {"TwoRecords", 2, AVCM_PARAM_CONTAINER_NAME, "ec", 0, kBadParameter},
    {"NonZeroFlags", 1, AVCM_PARAM_CONTAINER_NAME, "ec", 1, kBadParameter},
};
INSTANTIATE_TEST_SUITE_P(Token, LoginTest, ::testing::ValuesIn(kLoginCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TokenTest, EveryStatusHasItsOwnText) {
  for (std::uint32_t status = kNotInitialised; status <= kOutOfMemory; ++status) {
    failWith(kOk);
    EXPECT_FALSE(errorText(status).empty()) << std::hex << status;
  }
}

TEST_F(TokenTest, ErrorInfoRefusesUnknownCodesSmallBuffersAndOtherArguments) {
  char buffer[8];
  std::uint32_t size = sizeof buffer;
  EXPECT_EQ(kUnknownStatus, AvCmGetErrorInfo(0, 0x1234, 2, buffer, &size, 8));
  EXPECT_EQ(kBufferTooSmall, AvCmGetErrorInfo(0, kBadHandle, 2, buffer, &size, 8));
  EXPECT_EQ(std::strlen("Invalid handle") + 1, size);
  size = sizeof buffer;
  EXPECT_EQ(kBadParameter, AvCmGetErrorInfo(0, kBadHandle, 1, buffer, &size, 8));
  EXPECT_EQ(kBadParameter, AvCmGetErrorInfo(0, kBadHandle, 2, nullptr, &size, 8));
}

// Every operation taking a handle refuses one it never gave out, one of
// another kind, and one already closed.
TEST_F(TokenTest, HandlesAreValidatedByKind) {
  std::uint32_t provider = open("ec");
  ASSERT_NE(0u, provider);
  std::uint32_t certificate = 0;
  std::uint32_t size = 4;
  ASSERT_EQ(0u, AvCmGetObjectInfo(provider, 8, &certificate, &size, 0));
  std::uint32_t message = 0;
  ASSERT_EQ(0u, AvCmOpenMsg(provider, "x", 1, &message, 0x100));
  std::uint32_t length = 0;
  const std::uint32_t foreign[] = {0, 0xFFFFFFFF, provider + 1000};
  for (std::uint32_t bad : foreign) {
    EXPECT_EQ(kBadHandle, AvCmLogout(bad, 0));
    EXPECT_EQ(kBadHandle, AvCmOpenMsg(bad, "x", 1, &message, 0x100));
    EXPECT_EQ(kBadHandle, AvCmMsgSign(bad, 0x2100000));
    EXPECT_EQ(kBadHandle, AvCmGetMsg(bad, nullptr, &length, 0x2000));
    EXPECT_EQ(kBadHandle, AvCmCloseHandle(bad, 0));
    EXPECT_EQ(kBadHandle, AvCmGetCertAttr(bad, 45, 0, nullptr, &length, 0));
    EXPECT_EQ(kBadHandle, AvCmGetObjectInfo(bad, 8, &certificate, &size, 0));
  }
  EXPECT_EQ(kBadHandle, AvCmCloseHandle(provider, 0));
  EXPECT_EQ(kBadHandle, AvCmMsgSign(certificate, 0x2100000));
  EXPECT_EQ(kBadHandle, AvCmGetCertAttr(message, 45, 0, nullptr, &length, 0));
  EXPECT_EQ(kBadHandle, AvCmLogout(message, 0));
  EXPECT_EQ(0u, AvCmCloseHandle(message, 0));
  EXPECT_EQ(0u, AvCmCloseHandle(certificate, 0));
  EXPECT_EQ(kBadHandle, AvCmCloseHandle(message, 0));
  EXPECT_EQ(kBadHandle, AvCmGetCertAttr(certificate, 45, 0, nullptr, &length, 0));
  close(provider);
  EXPECT_EQ(kBadHandle, AvCmLogout(provider, 0));
}

TEST_F(TokenTest, CertificateIsTheContainersInDer) {
  std::uint32_t provider = open("rsa");
  ASSERT_NE(0u, provider);
  std::uint32_t certificate = 0;
  std::uint32_t size = 2;
  EXPECT_EQ(kBufferTooSmall, AvCmGetObjectInfo(provider, 8, &certificate, &size, 0));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(kBadParameter, AvCmGetObjectInfo(provider, 7, &certificate, &size, 0));
  ASSERT_EQ(0u, AvCmGetObjectInfo(provider, 8, &certificate, &size, 0));
  std::uint32_t length = 0;
  EXPECT_EQ(kBadParameter, AvCmGetCertAttr(certificate, 44, 0, nullptr, &length, 0));
  EXPECT_EQ(kBadParameter, AvCmGetCertAttr(certificate, 45, 1, nullptr, &length, 0));
  ASSERT_EQ(0u, AvCmGetCertAttr(certificate, 45, 0, nullptr, &length, 0));
  std::string der(length, '\0');
  std::uint32_t tooShort = length - 1;
  EXPECT_EQ(kBufferTooSmall, AvCmGetCertAttr(certificate, 45, 0, der.data(), &tooShort, 0));
  ASSERT_EQ(0u, AvCmGetCertAttr(certificate, 45, 0, der.data(), &length, 0));
  EXPECT_EQ(der.size(), length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  softtoken::CertPtr parsed(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
  ASSERT_TRUE(parsed);
  EXPECT_EQ("CN=rsa", softtoken::subjectLine(parsed.get()));
  EXPECT_EQ(0u, AvCmCloseHandle(certificate, 0));
  close(provider);
}

}  // namespace
