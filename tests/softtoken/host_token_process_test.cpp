// The built host with the software token in place of the test double, run
// as a browser runs it; OpenSSL's own command line judges the signatures.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/process/host_process.h"
#include "tools/self_signed.h"
#include "vendor/softtoken/container_store.h"

namespace {

class HostTokenTest : public HostTest {
 protected:
  void SetUp() override {
    softtoken::Credential credential;
    std::string error;
    ASSERT_TRUE(softtoken::makeSelfSigned("signer", {}, credential, error)) << error;
    ASSERT_TRUE(softtoken::saveContainer(store(), "signer", credential, false, error)) << error;
  }
  std::string store() const { return tempPath() + "/store"; }
  std::string path(const std::string& name) const { return tempPath() + "/" + name; }

  Environment tokenEnvironment() const {
    return environment({"LD_LIBRARY_PATH=" QUORVANT_SOFTTOKEN_DIR,
                        std::string(softtoken::kStoreVariable) + "=" + store()});
  }
  HostRun askToken(const std::vector<std::string>& requests) const {
    std::string input;
    for (const std::string& body : requests) input += frame(body);
    return runHost(input, tokenEnvironment());
  }
  void writeFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }

  // Runs `openssl cms -verify` on a Base64 signature against the file `data`,
  // trusting the container's certificate (Base64 DER). True when it accepts.
  bool opensslVerifies(const std::string& signature, const std::string& certificate,
                       const std::string& data) const {
    writeFile("signature.der", fromBase64(signature).value_or(""));
    writeFile("certificate.der", fromBase64(certificate).value_or(""));
    std::string command = "openssl x509 -inform DER -in " + path("certificate.der") + " -out " +
                          path("certificate.pem") + " && openssl cms -verify -binary " +
                          "-inform DER -in " + path("signature.der") + " -content " + path(data) +
                          " -CAfile " + path("certificate.pem") + " -out /dev/null 2>/dev/null";
    return std::system(command.c_str()) == 0;
  }
};

std::string request(const std::string& data) {
  return R"({"contentId":"1","data":{)" + data + "}}";
}

TEST_F(HostTokenTest, SignsContentAndFilePathsVerifiably) {
  const std::string content = "Quorvant signs \x01\x02 bytes\n";
  writeFile("data.bin", content);
  HostRun run = askToken({
      request(R"("requestAction":"getCertificate","containerName":"signer")"),
      request(R"("requestAction":"getSignature","containerName":"signer","contentFile":")" +
              toBase64(content) + "\""),
      request(R"("requestAction":"getSignature","fileDataPath":")" + path("data.bin") + "\""),
  });
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(3u, run.answers.size()) << run.errors;
  std::string certificate = dataString(run.answers[0], u"certificate").value_or("");
  ASSERT_FALSE(certificate.empty()) << run.answers[0];
  for (std::size_t i = 1; i < 3; ++i) {
    std::string signature = dataString(run.answers[i], u"signature").value_or("");
    ASSERT_FALSE(signature.empty()) << run.answers[i];
    EXPECT_TRUE(opensslVerifies(signature, certificate, "data.bin")) << i;
    writeFile("altered.bin", content + " ");
    EXPECT_FALSE(opensslVerifies(signature, certificate, "altered.bin")) << i;
  }
  // The staged copy of the content is gone.
  EXPECT_EQ(std::vector<std::string>(), temp_.entries(temp_.hostFolder() + "/vorna_data_signed"));
}

// Nothing but the ten operations couples the host to its vendor library: one
// injected ahead of the library next to the host drives it completely.
TEST_F(HostTokenTest, AnyLibraryWithTheTenOperationsCanBeInjected) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's runtime must come first among preloaded libraries";
#endif
  const std::string content = "injected";
  HostRun run = runHost(
      frame(request(R"("requestAction":"getCertificate","containerName":"signer")")) +
          frame(
              request(R"("requestAction":"getSignature","containerName":"signer","contentFile":")" +
                      toBase64(content) + "\"")),
      environment({"LD_PRELOAD=" QUORVANT_SOFTTOKEN_DIR "/libAvCryptMail.so",
                   std::string(softtoken::kStoreVariable) + "=" + store()}));
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(2u, run.answers.size()) << run.errors;
  std::string certificate = dataString(run.answers[0], u"certificate").value_or("");
  std::string signature = dataString(run.answers[1], u"signature").value_or("");
  // The test double next to the host would have answered "CERT:signer".
  ASSERT_NE(fromBase64(certificate).value_or(""), "CERT:signer");
  writeFile("injected.bin", content);
  EXPECT_TRUE(opensslVerifies(signature, certificate, "injected.bin"));
}

TEST_F(HostTokenTest, FailuresReadAsPlainWords) {
  HostRun run = askToken({
      request(R"("requestAction":"getCertificate","containerName":"absent")"),
      request(R"("requestAction":"getCertificate","handleProvider":12345)"),
  });
  ASSERT_EQ(2u, run.answers.size()) << run.errors;
  // The description names the container, never the file behind it.
  EXPECT_EQ("Key container not found: absent",
            dataString(run.answers[0], u"description").value_or(""));
  EXPECT_EQ("Invalid handle", dataString(run.answers[1], u"description").value_or(""));
}

TEST_F(HostTokenTest, SignatureOfLargeContentStaysFarBelowTheBrowserLimit) {
  std::string content(3 << 20, 'q');
  HostRun run = askToken(
      {request(R"("requestAction":"getSignature","contentFile":")" + toBase64(content) + "\"")});
  ASSERT_EQ(1u, run.answers.size()) << run.errors;
  EXPECT_EQ("success", dataString(run.answers[0], u"result").value_or("")) << run.errors;
  EXPECT_LT(run.answers[0].size(), 8192u);
}

}  // namespace
