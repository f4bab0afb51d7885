#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "vendor/av_crypt_mail.h"

namespace {

constexpr std::uint32_t kSignFlags = 0x2100000;
constexpr std::uint32_t kGetMessageFlags = 0x2000;

struct Fetched {
  std::uint32_t status;
  std::string bytes;
};

// The two-call size protocol: a size query, then a buffer of exactly that size.
template <typename Call>
Fetched fetch(Call call) {
  std::uint32_t length = 0;
  std::uint32_t status = call(nullptr, &length);
  std::string bytes(status == 0 ? length : 0, '\0');
  if (status == 0) status = call(bytes.data(), &length);
  EXPECT_EQ(length, bytes.size());
  return {status, bytes};
}

std::uint32_t login(const char* container, std::uint32_t& provider) {
  AvCmLoginParam param{AVCM_PARAM_CONTAINER_NAME, container};
  return AvCmLogin(1, &param, &provider, 0);
}

Fetched errorText(std::uint32_t code, std::uint32_t size = 4096) {
  char buffer[4096] = "x";
  std::uint32_t status = AvCmGetErrorInfo(0, code, 2, buffer, &size, 8);
  return {status, buffer};
}

// Runs in a child process: the library's exit line is written by std::exit.
void exitWithSessionAndCertificateOpen() {
  std::uint32_t provider = 0, certificate = 0, size = 4;
  AvCmInit(AVCMF_STARTUP);
  login("C1", provider);
  AvCmGetObjectInfo(provider, 8, &certificate, &size, 0);
  std::exit(0);
}

// Every case starts with a fresh call record and no faults or chatter, and
// leaves the library as balanced as it found it.
class FakeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearVariables();
    record_ = ::testing::TempDir() + "fake_record_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    std::remove(record_.c_str());
    setenv("AVCM_FAKE_LOG", record_.c_str(), 1);
  }
  void TearDown() override {
    clearVariables();
    std::remove(record_.c_str());
  }
  static void clearVariables() {
    for (const char* name : {"AVCM_FAKE_LOG", "AVCM_FAKE_FAULTS", "AVCM_FAKE_STDOUT"}) {
      unsetenv(name);
    }
  }
  std::vector<std::string> recordLines() const {
    std::ifstream in(record_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string record_;
};

TEST_F(FakeLibraryTest, LoginChoosesContainerAndCertificateFollows) {
  struct Case {
    std::uint32_t count;
    AvCmLoginParam param;
    bool passRecords;
    std::uint32_t status;
    std::string certificate;
  } cases[] = {
      {0, {0, nullptr}, false, 0, "CERT:default"},
      {1, {AVCM_PARAM_CONTAINER_NAME, "C1"}, true, 0, "CERT:C1"},
      {1, {AVCM_PARAM_CONTAINER_NAME, "empty-cert"}, true, 0, ""},
      {1, {AVCM_PARAM_CONTAINER_NAME, "missing-key"}, true, 0x101, ""},
      {1, {0x1010, "C1"}, true, 0x106, ""},
      {0, {AVCM_PARAM_CONTAINER_NAME, "C1"}, true, 0x106, ""},
      {2, {AVCM_PARAM_CONTAINER_NAME, "C1"}, true, 0x106, ""},
  };
  ASSERT_EQ(AvCmInit(AVCMF_STARTUP), 0u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.certificate);
    std::uint32_t provider = 0, certificate = 0, size = 4;
    EXPECT_EQ(AvCmLogin(c.count, c.passRecords ? &c.param : nullptr, &provider, 0), c.status);
    if (c.status != 0) continue;
    ASSERT_EQ(AvCmGetObjectInfo(provider, 8, &certificate, &size, 0), 0u);
    Fetched bytes = fetch([&](void* buffer, std::uint32_t* length) {
      return AvCmGetCertAttr(certificate, 45, 0, buffer, length, 0);
    });
    EXPECT_EQ(bytes.status, 0u);
    EXPECT_EQ(bytes.bytes, c.certificate);
    EXPECT_EQ(AvCmCloseHandle(certificate, 0), 0u);
    EXPECT_EQ(AvCmLogout(provider, 0), 0u);
  }
  EXPECT_EQ(AvCmInit(AVCMF_SHUTDOWN), 0u);
  std::uint32_t provider = 0;
  EXPECT_EQ(login("C1", provider), 0x105u) << "login before startup";
  EXPECT_EQ(AvCmInit(AVCMF_SHUTDOWN), 0x105u) << "shutdown without startup";
}

TEST_F(FakeLibraryTest, HandlesCountUpPerKindAndClosedOnesAreRejected) {
  ASSERT_EQ(AvCmInit(AVCMF_STARTUP), 0u);
  std::uint32_t provider = 0, second = 0, message = 0, certificate = 0, size = 4;
  ASSERT_EQ(login("C1", provider), 0u);
  ASSERT_EQ(login("C2", second), 0u);
  ASSERT_EQ(AvCmOpenMsg(provider, "abc", 3, &message, 0x100), 0u);
  ASSERT_EQ(AvCmGetObjectInfo(provider, 8, &certificate, &size, 0), 0u);
  EXPECT_EQ(provider & 0xF000u, 0x1000u);
  EXPECT_EQ(second, provider + 1);
  EXPECT_EQ(message & 0xF000u, 0x2000u);
  EXPECT_EQ(certificate & 0xF000u, 0x3000u);
  EXPECT_EQ(AvCmCloseHandle(second, 0), 0x104u) << "a provider is not a closable handle";
  for (std::uint32_t handle : {message, certificate}) EXPECT_EQ(AvCmCloseHandle(handle, 0), 0u);
  for (std::uint32_t handle : {provider, second}) EXPECT_EQ(AvCmLogout(handle, 0), 0u);

  std::uint32_t out = 0, length = 0;
  const std::function<std::uint32_t()> staleCalls[] = {
      [&] { return AvCmLogout(provider, 0); },
      [&] { return AvCmOpenMsg(provider, "abc", 3, &out, 0x100); },
      [&] { return AvCmGetObjectInfo(provider, 8, &out, &size, 0); },
      [&] { return AvCmMsgSign(message, kSignFlags); },
      [&] { return AvCmGetMsg(message, nullptr, &length, kGetMessageFlags); },
      [&] { return AvCmCloseHandle(message, 0); },
      [&] { return AvCmGetCertAttr(certificate, 45, 0, nullptr, &length, 0); },
      [&] { return AvCmCloseHandle(0xDEAD, 0); },
  };
  for (const auto& call : staleCalls) EXPECT_EQ(call(), 0x104u);
  EXPECT_EQ(AvCmInit(AVCMF_SHUTDOWN), 0u);
}

TEST_F(FakeLibraryTest, SignedMessageDescribesContainerLengthAndHash) {
  struct Case {
    const char* container;
    std::string data;
    std::uint32_t signStatus;
    std::string message;
  } cases[] = {
      {"C1", "", 0, "SIGNED:C1:0:cbf29ce484222325"},
      {"empty-cert", "foobar", 0, "SIGNED:empty-cert:6:85944171f73967e8"},
      {"sign-fails", "a", 0x103, ""},
  };
  ASSERT_EQ(AvCmInit(AVCMF_STARTUP), 0u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.container);
    std::uint32_t provider = 0, message = 0, length = 0;
    ASSERT_EQ(login(c.container, provider), 0u);
    ASSERT_EQ(AvCmOpenMsg(provider, c.data.data(), std::uint32_t(c.data.size()), &message, 0x100),
              0u);
    EXPECT_EQ(AvCmGetMsg(message, nullptr, &length, kGetMessageFlags), 0x108u);
    EXPECT_EQ(AvCmMsgSign(message, kSignFlags), c.signStatus);
    if (c.signStatus == 0) {
      Fetched signedMessage = fetch([&](void* buffer, std::uint32_t* size) {
        return AvCmGetMsg(message, buffer, size, kGetMessageFlags);
      });
      EXPECT_EQ(signedMessage.status, 0u);
      EXPECT_EQ(signedMessage.bytes, c.message);
      std::string tooShort(c.message.size() - 1, '-');
      length = std::uint32_t(tooShort.size());
      EXPECT_EQ(AvCmGetMsg(message, tooShort.data(), &length, kGetMessageFlags), 0x107u);
      EXPECT_EQ(tooShort, std::string(c.message.size() - 1, '-'));
    }
    EXPECT_EQ(AvCmCloseHandle(message, 0), 0u);
    EXPECT_EQ(AvCmLogout(provider, 0), 0u);
  }
  EXPECT_EQ(AvCmInit(AVCMF_SHUTDOWN), 0u);
}

TEST_F(FakeLibraryTest, FaultsFailAlwaysOrOnNthCallAndRestartWhenChanged) {
  struct Step {
    const char* faults;
    std::uint32_t flags;
    std::uint32_t status;
  } steps[] = {
      {"AvCmInit:1=0x55@2", AVCMF_STARTUP, 0},
      {"AvCmInit:1=0x55@2", AVCMF_STARTUP, 0x55},
      {"AvCmInit:1=0x55@2", AVCMF_STARTUP, 0},
      {"AvCmInit:1=0x55@2,AvCmInit:2=7", AVCMF_STARTUP, 0},
      {"AvCmInit:1=0x55@2,AvCmInit:2=7", AVCMF_STARTUP, 0x55},
      {"AvCmInit:1=0x55@2,AvCmInit:2=7", AVCMF_SHUTDOWN, 7},
      {"AvCmInit=300", AVCMF_SHUTDOWN, 300},
      {"AvCmInit=300@2, AvCmLogn=1, junk", AVCMF_SHUTDOWN, 0},
      {"AvCmInit=300@2, AvCmLogn=1, junk", AVCMF_SHUTDOWN, 300},
      {"", AVCMF_SHUTDOWN, 0},
      {"", AVCMF_SHUTDOWN, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.faults);
    setenv("AVCM_FAKE_FAULTS", step.faults, 1);
    EXPECT_EQ(AvCmInit(step.flags), step.status);
  }
  EXPECT_EQ(AvCmInit(AVCMF_SHUTDOWN), 0x105u) << "startups left unbalanced";

  ASSERT_EQ(AvCmInit(AVCMF_STARTUP), 0u);
  setenv("AVCM_FAKE_FAULTS", "AvCmLogin=0", 1);
  std::uint32_t provider = 0xABCD;
  EXPECT_EQ(login("C1", provider), 0u);
  EXPECT_EQ(provider, 0xABCDu) << "an injected status must write no outputs";
  unsetenv("AVCM_FAKE_FAULTS");
  EXPECT_EQ(AvCmInit(AVCMF_SHUTDOWN), 0u);
}

TEST_F(FakeLibraryTest, RecordsOneLinePerCallWithDecimalStatusesAndHandles) {
  std::uint32_t provider = 0, certificate = 0, size = 4, message = 0, length = 0;
  AvCmInit(AVCMF_STARTUP);
  login("C1", provider);
  AvCmGetObjectInfo(provider, 8, &certificate, &size, 0);
  AvCmGetCertAttr(certificate, 45, 0, nullptr, &length, 0);
  AvCmCloseHandle(certificate, 0);
  AvCmOpenMsg(provider, "abc", 3, &message, 0x100);
  AvCmMsgSign(message, kSignFlags);
  char buffer[64];
  length = sizeof buffer;
  AvCmGetMsg(message, buffer, &length, kGetMessageFlags);
  AvCmCloseHandle(message, 0);
  errorText(0x1FF);
  AvCmLogout(provider, 0);
  AvCmInit(AVCMF_SHUTDOWN);
  AvCmLogin(0, nullptr, &provider, 0);

  const std::string p = std::to_string(provider), c = std::to_string(certificate),
                    m = std::to_string(message);
  const std::vector<std::string> expected = {
      "AvCmInit 1 -> 0",
      "AvCmLogin 1 C1 -> 0 handle=" + p,
      "AvCmGetObjectInfo " + p + " 8 -> 0 handle=" + c,
      "AvCmGetCertAttr " + c + " 45 null 0 -> 0",
      "AvCmCloseHandle " + c + " -> 0",
      "AvCmOpenMsg " + p + " 3 -> 0 handle=" + m,
      "AvCmMsgSign " + m + " -> 0",
      "AvCmGetMsg " + m + " buffer 64 -> 0",
      "AvCmCloseHandle " + m + " -> 0",
      "AvCmGetErrorInfo 511 -> 510",
      "AvCmLogout " + p + " -> 0",
      "AvCmInit 2 -> 0",
      "AvCmLogin 0 - -> 261",
  };
  EXPECT_EQ(recordLines(), expected);
}

TEST_F(FakeLibraryTest, ExitLineCountsWhatWasLeftOpen) {
  EXPECT_EXIT(exitWithSessionAndCertificateOpen(), ::testing::ExitedWithCode(0), "");
  const std::vector<std::string> lines = recordLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "exit startups=1 sessions=1 messages=0 certificates=1");
}

TEST_F(FakeLibraryTest, ErrorInfoGivesTheLibraryTexts) {
  struct Case {
    std::uint32_t code;
    std::string text;
  } cases[] = {
      {0x101, "Key container not found"},
      {0x103, u8"Ошибка подписи: ключ недоступен"},
      {0x104, "Invalid handle"},
      {0x105, "Library not initialised"},
      {0x106, "Bad login parameters"},
      {0x107, "Buffer too small"},
      {0x108, "Message not signed"},
      {0x1A2, "Fake library error 0x1A2"},
  };
  for (const Case& c : cases) {
    Fetched text = errorText(c.code);
    EXPECT_EQ(text.status, 0u);
    EXPECT_EQ(text.bytes, c.text);
  }
  Fetched failed = errorText(0x1FF);
  EXPECT_EQ(failed.status, 0x1FEu);
  EXPECT_EQ(failed.bytes, "x") << "a failed lookup writes nothing";
  EXPECT_EQ(errorText(0x104, 14).status, 0x107u) << "no room for the terminating NUL";
}

TEST_F(FakeLibraryTest, ChattyStartupWritesThroughStdioAndDescriptorOne) {
  setenv("AVCM_FAKE_STDOUT", "noise", 1);
  ::testing::internal::CaptureStdout();
  AvCmInit(AVCMF_STARTUP);
  AvCmInit(AVCMF_SHUTDOWN);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "noise\nnoise\nnoise\nnoise\n");
}

}  // namespace
