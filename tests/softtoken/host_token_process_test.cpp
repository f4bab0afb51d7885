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

std::string request(const std::string& data) {
  return frame(R"({"contentId":"1","data":{)" + data + "}}");
}

class HostTokenTest : public HostTest {
 protected:
  std::string path(const std::string& name) const { return tempPath() + "/" + name; }
};

// The token found next to the host, and injected ahead of the test double
// there: nothing but the ten operations couples the host to its library.
TEST_F(HostTokenTest, SignsVerifiablyAndFailsInPlainWords) {
  softtoken::Credential credential;
  std::string error;
  ASSERT_TRUE(softtoken::makeSelfSigned("signer", {}, credential, error)) << error;
  ASSERT_TRUE(softtoken::saveContainer(path("store"), "signer", credential, false, error)) << error;
  const std::string content = "Quorvant signs \x01\x02 bytes\n";
  writeFile(path("data.bin"), content);
  const std::string input =
      request(R"("requestAction":"getCertificate","containerName":"signer")") +
      request(R"("requestAction":"getSignature","containerName":"signer","contentFile":")" +
              toBase64(content) + "\"") +
      request(R"("requestAction":"getSignature","fileDataPath":")" + path("data.bin") + "\"") +
      request(R"("requestAction":"getSignature","contentFile":")" +
              toBase64(std::string(3 << 20, 'q')) + "\"") +
      request(R"("requestAction":"getCertificate","containerName":"absent")") +
      request(R"("requestAction":"getCertificate","handleProvider":12345)");
  const std::string store = std::string(softtoken::kStoreVariable) + "=" + path("store");
  std::vector<Environment> environments = {{"LD_LIBRARY_PATH=" QUORVANT_SOFTTOKEN_DIR, store}};
#if !defined(__SANITIZE_ADDRESS__)  // its runtime must come first among preloaded libraries
  environments.push_back({"LD_PRELOAD=" QUORVANT_SOFTTOKEN_DIR "/libAvCryptMail.so", store});
#endif
  for (const Environment& extra : environments) {
    SCOPED_TRACE(extra[0]);
    HostRun run = this->run(input, extra);
    EXPECT_EQ(0, run.exitCode) << run.errors;
    ASSERT_EQ(6u, run.answers.size()) << run.errors;
    std::string certificate = dataString(run.answers[0], u"certificate").value_or("");
    // The test double would have answered "CERT:signer".
    ASSERT_NE("CERT:signer", fromBase64(certificate).value_or("CERT:signer")) << run.answers[0];
    for (std::size_t i = 1; i < 3; ++i) {
      std::string signature = dataString(run.answers[i], u"signature").value_or("");
      EXPECT_TRUE(opensslVerifies(tempPath(), signature, certificate, path("data.bin")))
          << run.answers[i];
      writeFile(path("altered.bin"), content + " ");
      EXPECT_FALSE(opensslVerifies(tempPath(), signature, certificate, path("altered.bin"))) << i;
    }
    // Detached: far below the browser's limit however large the content.
    EXPECT_EQ("success", dataString(run.answers[3], u"result").value_or("")) << run.errors;
    EXPECT_LT(run.answers[3].size(), 8192u);
    // The description names the container, never the file behind it.
    EXPECT_EQ("Key container not found: absent",
              dataString(run.answers[4], u"description").value_or(""));
    EXPECT_EQ("Invalid handle", dataString(run.answers[5], u"description").value_or(""));
    // The staged copies of the content are gone.
    EXPECT_EQ(std::vector<std::string>(), temp_.entries(temp_.hostFolder() + "/vorna_data_signed"));
  }
}

}  // namespace
