// The built host with a real token library in place of the test double, run
// as a browser runs it: the software token over containers of each kind of
// protection, and the PKCS#11 library over SoftHSM2 tokens
// (softhsm_tokens.sh). The scripted pinentry answers for the person;
// OpenSSL's command line judges the signatures.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/process/host_process.h"
#include "tools/self_signed.h"
#include "vendor/av_crypt_mail.h"
#include "vendor/pkcs11/pkcs11_status.h"
#include "vendor/softtoken/container_store.h"

namespace {

enum Library { kSoftware, kPkcs11 };

std::string readFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

std::string request(const std::string& data) {
  return R"({"contentId":"1","data":{"requestAction":")" + data + "}}";
}

class HostTokenTest : public HostTest {
 protected:
  // The tokens, and the containers "locked" and "percent" (a passphrase),
  // "asks" (a confirmation each session) and "quiet" (nothing asked).
  static void SetUpTestSuite() {
    tokens_ = new TempDir();
    std::string command =
        "bash " QUORVANT_PKCS11_TESTS "/softhsm_tokens.sh " + tokens_->path() + " >/dev/null";
    ASSERT_EQ(0, std::system(command.c_str()));
    const std::pair<const char*, softtoken::ContainerProtection> kContainers[] = {
        {"locked", {"secret"}}, {"percent", {"50% off"}}, {"asks", {"", true}}, {"quiet", {}}};
    for (const auto& [name, protection] : kContainers) {
      softtoken::Credential credential;
      std::string error;
      ASSERT_TRUE(softtoken::makeSelfSigned(name, {}, credential, error)) << error;
      ASSERT_TRUE(softtoken::saveContainer(tokens_->path() + "/store", name, credential, false,
                                           error, protection))
          << error;
    }
  }
  static void TearDownTestSuite() { delete tokens_; }

  // A host's environment with `library`; `override` ("NAME=value") replaces
  // the default of that name.
  Environment tokenEnvironment(Library library, const std::string& override = "") const {
    Environment entries = {std::string("LD_LIBRARY_PATH=") +
                               (library == kPkcs11 ? QUORVANT_PKCS11_DIR : QUORVANT_SOFTTOKEN_DIR),
                           "QUORVANT_TOKEN_STORE=" + tokens_->path() + "/store",
                           "SOFTHSM2_CONF=" + tokens_->path() + "/softhsm2.conf",
                           "QUORVANT_PKCS11_MODULE=" QUORVANT_SOFTHSM_MODULE,
                           "QUORVANT_PKCS11_CONFIG=" + tempPath() + "/pkcs11.conf",
                           "QUORVANT_PINENTRY=" QUORVANT_PKCS11_TESTS "/scripted_pinentry.sh",
                           "PINENTRY_ACTION=pin",
                           "PINENTRY_PIN=1234",
                           "PINENTRY_LOG=" + tempPath() + "/pinentry.log"};
    for (std::string& entry : entries) {
      const std::size_t name = entry.find('=') + 1;
      if (override.compare(0, name, entry, 0, name) == 0) entry = override;
    }
    return environment(entries);
  }

  static TempDir* tokens_;
};

TempDir* HostTokenTest::tokens_ = nullptr;

// The host never passes a null data pointer, so only a direct call shows
// that one is refused only together with a length.
TEST(Pkcs11Library, OpenMessageTakesNoDataPointerOnlyWithoutData) {
  std::uint32_t message = 0;
  EXPECT_EQ(pkcs11token::kBadHandle, AvCmOpenMsg(0, nullptr, 0, &message, 0x100));
  EXPECT_EQ(pkcs11token::kBadParameter, AvCmOpenMsg(0, nullptr, 3, &message, 0x100));
}

// A usable key signs, and OpenSSL accepts the signature with the key's
// certificate; every failure is an answer in plain words, never a hang or a
// crash, and never the PIN. A dialog starts only for a key that can be used.
TEST_F(HostTokenTest, KeysSignAndFailuresReadAsPlainWords) {
  const std::string content = "Quorvant signs \x01\x02 with a token\n";
  writeFile(tempPath() + "/data.bin", content);
  writeFile(tempPath() + "/altered.bin", content + " ");
  writeFile(tempPath() + "/not-a-module.so", "text");
  writeFile(tempPath() + "/default.conf", "# chosen key\ndefault = T1/ec\n");
  const struct {
    Library library;
    const char* container;
    std::string override;
    const char* description;  // "" for success, which also signs
    const char* asked;        // the dialog's command, "" for no dialog
    const char* named;        // the key or container the dialog names
  } kCases[] = {
      {kSoftware, "locked", "PINENTRY_PIN=wrong", "Wrong passphrase: locked", "GETPIN", "locked"},
      {kSoftware, "locked", "PINENTRY_PIN=secret", "", "GETPIN", "locked"},
      {kSoftware, "locked", "PINENTRY_ACTION=cancel", "Cancelled by the user", "GETPIN", "locked"},
      // Escaped in the protocol.
      {kSoftware, "percent", "PINENTRY_PIN=50% off", "", "GETPIN", "percent"},
      {kSoftware, "asks", "", "", "CONFIRM", "asks"},
      {kSoftware, "asks", "PINENTRY_ACTION=cancel", "Cancelled by the user", "CONFIRM", "asks"},
      {kSoftware, "asks", "QUORVANT_PINENTRY=/nonexistent/pinentry",
       "No dialog (pinentry) can be started to ask the user: cannot start pinentry: No such file "
       "or directory",
       "", ""},
      {kSoftware, "quiet", "QUORVANT_PINENTRY=/nonexistent/pinentry", "", "", ""},
      {kSoftware, "absent", "", "Key container not found: absent", "", ""},
      {kPkcs11, "absent", "", "Key not found: absent", "", ""},
      {kPkcs11, "twin", "", R"(More than one key has this name: twin ("T1/twin", "T2/twin"))", "",
       ""},
      {kPkcs11, "T2/twin", "PINENTRY_PIN=5678", "", "GETPIN", "T2/twin"},
      {kPkcs11, "nocert", "", R"(The key has no certificate: "T1/nocert")", "", ""},
      {kPkcs11, "", "",
       "No default key: the tokens hold 5 keys and the configuration names none as the default", "",
       ""},
      {kPkcs11, "", "QUORVANT_PKCS11_CONFIG=" + tempPath() + "/default.conf", "", "GETPIN",
       "T1/ec"},
      {kPkcs11, "ec", "PINENTRY_PIN=9999", "Wrong PIN: the token did not accept it", "GETPIN",
       "T1/ec"},
      // After a failure the token warns, and so does the answer.
      {kPkcs11, "ec", "PINENTRY_PIN=9999",
       "Wrong PIN: the token did not accept it; few tries are left", "GETPIN", "T1/ec"},
      {kPkcs11, "ec", "PINENTRY_ACTION=cancel", "Cancelled by the user", "GETPIN", "T1/ec"},
      {kPkcs11, "ec", "PINENTRY_ACTION=garbage",
       "No PIN dialog (pinentry) can be started: cannot start scripted_pinentry.sh: it does not "
       "speak the pinentry protocol",
       "", ""},
      {kPkcs11, "ec", "QUORVANT_PKCS11_MODULE=" + tempPath() + "/not-a-module.so",
       "The PKCS#11 module cannot be loaded: not-a-module.so", "", ""},
      // p11-kit's proxy (the default) reaches SoftHSM2 through its module file.
      {kPkcs11, "T1/ec", "QUORVANT_PKCS11_MODULE=", "", "GETPIN", "T1/ec"},
      {kPkcs11, "T1/rsa", "", "", "GETPIN", "T1/rsa"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(std::string(test.container) + " " + test.description);
    std::filesystem::remove(tempPath() + "/pinentry.log");
    const bool success = *test.description == '\0';
    const std::string name = R"(","containerName":")" + std::string(test.container) + "\"";
    std::string input = frame(request("getCertificate" + name));
    if (success) {
      input += frame(
          request("getSignature" + name + R"(,"fileDataPath":")" + tempPath() + "/data.bin\""));
    }
    HostRun run = runHost(input, tokenEnvironment(test.library, test.override));
    EXPECT_EQ(0, run.exitCode) << run.errors;
    ASSERT_EQ(success ? 2u : 1u, run.answers.size()) << run.errors;
    EXPECT_EQ(success ? "success" : "error", dataString(run.answers[0], u"result").value_or(""));
    EXPECT_EQ(test.description, dataString(run.answers[0], u"description").value_or(""));
    EXPECT_EQ(std::string::npos, run.answers[0].find("9999"));
    if (success) {
      std::string certificate = dataString(run.answers[0], u"certificate").value_or("");
      std::string signature = dataString(run.answers[1], u"signature").value_or("");
      EXPECT_TRUE(opensslVerifies(tempPath(), signature, certificate, tempPath() + "/data.bin"));
      EXPECT_FALSE(
          opensslVerifies(tempPath(), signature, certificate, tempPath() + "/altered.bin"));
    }
    std::string dialog = readFile(tempPath() + "/pinentry.log");
    EXPECT_EQ(*test.asked == '\0', dialog.empty()) << dialog;
    if (*test.asked != '\0') {
      EXPECT_NE(std::string::npos, dialog.find(std::string(test.asked) + "\n")) << dialog;
      EXPECT_NE(std::string::npos, dialog.find('"' + std::string(test.named) + '"')) << dialog;
    }
  }
}

// SoftHSM2 loses its token files under an open session: the signing fails
// in plain words, the host goes on and the session still closes.
TEST_F(HostTokenTest, TokenGoneDuringASessionFailsInPlainWords) {
  writeFile(tempPath() + "/data.bin", "abc");
  HostProcess host(tokenEnvironment(kPkcs11));
  ASSERT_TRUE(host.writeFrame(request(R"(openCryptoProvider","containerName":"ec")")));
  std::string opened = host.readFrame().value_or("");
  const std::size_t at = opened.find(R"("handleProvider":)");
  ASSERT_NE(std::string::npos, at) << opened;
  const std::string provider =
      R"(","handleProvider":)" + opened.substr(at + 17, opened.find(',', at) - at - 17);
  std::filesystem::remove_all(tokens_->path() + "/tokens");
  ASSERT_TRUE(host.writeFrame(
      request("getSignature" + provider + R"(,"fileDataPath":")" + tempPath() + "/data.bin\"")));
  EXPECT_EQ("Signing failed: Object handle invalid; cms datafinal error",
            dataString(host.readFrame().value_or(""), u"description").value_or(""));
  ASSERT_TRUE(host.writeFrame(request("closeCryptoProvider" + provider)));
  EXPECT_EQ("success", dataString(host.readFrame().value_or(""), u"result").value_or(""));
  host.closeInput();
  EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
}

}  // namespace
