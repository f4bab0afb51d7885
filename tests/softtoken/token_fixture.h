#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/x509.h>

#include "tests/support/temp_dir.h"
#include "tools/self_signed.h"
#include "vendor/av_crypt_mail.h"
#include "vendor/softtoken/container_store.h"

// A store in a private directory, chosen through QUORVANT_TOKEN_STORE, with
// the containers "ec" (the default), "rsa", "broken" (not PKCS#12) and "dir"
// (a directory where a file should be).
class TokenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    store_ = new TempDir();
    ::setenv(softtoken::kStoreVariable, store_->path().c_str(), 1);
    addContainer("ec", 0);
    addContainer("rsa", 2048);
    std::string error;
    ASSERT_TRUE(softtoken::setDefaultContainer(store_->path(), "ec", error)) << error;
    std::ofstream(store_->path() + "/broken.p12") << "not a container";
    std::filesystem::create_directory(store_->path() + "/dir.p12");
  }
  static void TearDownTestSuite() {
    ::unsetenv(softtoken::kStoreVariable);
    delete store_;
  }

  static void addContainer(const std::string& name, int rsaBits) {
    softtoken::NewCredentialOptions options;
    options.rsaBits = rsaBits;
    softtoken::Credential credential;
    std::string error;
    ASSERT_TRUE(softtoken::makeSelfSigned(name, options, credential, error)) << error;
    ASSERT_TRUE(softtoken::saveContainer(store_->path(), name, credential, false, error)) << error;
  }

  // AvCmInit(1) and a login on `container` ("" for the default); 0 on failure.
  static std::uint32_t open(const std::string& container) {
    if (AvCmInit(AVCMF_STARTUP) != 0) return 0;
    AvCmLoginParam record{AVCM_PARAM_CONTAINER_NAME, container.c_str()};
    std::uint32_t provider = 0;
    std::uint32_t status =
        AvCmLogin(container.empty() ? 0 : 1, container.empty() ? nullptr : &record, &provider, 0);
    if (status != 0) AvCmInit(AVCMF_SHUTDOWN);
    return status == 0 ? provider : 0;
  }
  static void close(std::uint32_t provider) {
    EXPECT_EQ(0u, AvCmLogout(provider, 0));
    EXPECT_EQ(0u, AvCmInit(AVCMF_SHUTDOWN));
  }

  // The signed message for `data` through the host's call sequence; empty
  // when a call fails.
  static std::string sign(std::uint32_t provider, const std::string& data) {
    std::uint32_t message = 0;
    if (AvCmOpenMsg(provider, data.data(), static_cast<std::uint32_t>(data.size()), &message,
                    0x100) != 0) {
      return std::string();
    }
    std::uint32_t length = 0;
    std::string signedMessage;
    if (AvCmMsgSign(message, 0x2100000) == 0 &&
        AvCmGetMsg(message, nullptr, &length, 0x2000) == 0) {
      signedMessage.resize(length);
      if (AvCmGetMsg(message, signedMessage.data(), &length, 0x2000) != 0) signedMessage.clear();
    }
    EXPECT_EQ(0u, AvCmCloseHandle(message, 0));
    return signedMessage;
  }

  // The library's text for `status` ("" when it has none).
  static std::string errorText(std::uint32_t status) {
    std::vector<char> buffer(4096);
    std::uint32_t size = 4096;
    return AvCmGetErrorInfo(0, status, 2, buffer.data(), &size, 8) == 0 ? buffer.data() : "";
  }

  static TempDir* store_;
};

// True when `signedMessage` (DER) is a valid detached signature of `data` by
// the certificate it carries.
bool verifiesDetached(const std::string& signedMessage, const std::string& data);
