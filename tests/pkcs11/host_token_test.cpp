// The built host with the software token or the PKCS#11 library over
// SoftHSM2 in place of the test double, run as a browser runs it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/process/host_process.h"
#include "text/text_convert.h"
#include "tools/self_signed.h"
#include "vendor/av_crypt_mail.h"
#include "vendor/pkcs11/pkcs11_status.h"
#include "vendor/softtoken/container_store.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::string request(const std::string& data) {
  return R"({"contentId":"1","data":{"requestAction":")" + data + "}}";
}

TempDir tokens;

class HostTokenTest : public HostTest {
 protected:
  static void SetUpTestSuite() {
    std::string command =
        "bash " QUORVANT_PKCS11_TESTS "/softhsm_tokens.sh " + tokens.path() + " >/dev/null";
    ASSERT_EQ(0, std::system(command.c_str()));
    const std::pair<const char*, softtoken::ContainerProtection> kContainers[] = {
        {"locked", {"secret"}}, {"percent", {"50% off"}}, {"asks", {"", true}}, {"quiet", {}}};
    for (const auto& [name, protection] : kContainers) {
      softtoken::Credential credential;
      std::string error;
      ASSERT_TRUE(softtoken::makeSelfSigned(name, {}, credential, error)) << error;
      ASSERT_TRUE(softtoken::saveContainer(tokens.path() + "/store", name, credential, false, error,
                                           protection))
          << error;
    }
  }
  // `override` ("NAME=value") replaces the default of that name.
  Environment tokenEnvironment(const std::string& library, const std::string& override = "") const {
    Environment entries = {std::string("LD_LIBRARY_PATH=") +
                               (library == "pkcs11" ? QUORVANT_PKCS11_DIR : QUORVANT_SOFTTOKEN_DIR),
                           "QUORVANT_TOKEN_STORE=" + tokens.path() + "/store",
                           "SOFTHSM2_CONF=" + tokens.path() + "/softhsm2.conf",
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
};

// Only a direct call passes a null data pointer (the host never does).
TEST(Pkcs11Library, OpenMessageTakesNoDataPointerOnlyWithoutData) {
  std::uint32_t message = 0;
  EXPECT_EQ(pkcs11token::kBadHandle, AvCmOpenMsg(0, nullptr, 0, &message, 0x100));
  EXPECT_EQ(pkcs11token::kBadParameter, AvCmOpenMsg(0, nullptr, 3, &message, 0x100));
}

// A usable key signs; a failure is an answer in plain words, never the PIN.
TEST_F(HostTokenTest, KeysSignAndFailuresReadAsPlainWords) {
  const std::string content = "Quorvant signs \x01\x02 with a token\n";
  writeFile(tempPath() + "/data.bin", content);
  writeFile(tempPath() + "/altered.bin", content + " ");
  writeFile(tempPath() + "/default.conf", "# chosen key\ndefault = T1/ec\n");
  std::unique_ptr<JsonValue> cases =
      parseAnswer(readFile(QUORVANT_PKCS11_TESTS "/host_token_cases.json"));
  ASSERT_TRUE(cases && cases->child(u"cases") && cases->child(u"cases")->isArray());
  for (const std::unique_ptr<JsonValue>& test : cases->child(u"cases")->asArray()) {
    const auto field = [&](const char16_t* name) {
      const JsonValue* value = test->child(name);
      std::string text = value != nullptr && value->isString() ? wideToUtf8(value->asString()) : "";
      const std::size_t tmp = text.find("{tmp}");
      return tmp == std::string::npos ? text : text.replace(tmp, 5, tempPath());
    };
    SCOPED_TRACE(wideToUtf8(test->stringify()));
    std::filesystem::remove(tempPath() + "/pinentry.log");
    const bool success = field(u"description").empty();
    const std::string name = R"(","containerName":")" + field(u"container") + "\"";
    std::string input = frame(request("getCertificate" + name));
    if (success) {
      input += frame(
          request("getSignature" + name + R"(,"fileDataPath":")" + tempPath() + "/data.bin\""));
    }
    HostRun run = runHost(input, tokenEnvironment(field(u"library"), field(u"environment")));
    EXPECT_EQ(0, run.exitCode) << run.errors;
    ASSERT_EQ(success ? 2u : 1u, run.answers.size()) << run.errors;
    EXPECT_EQ(success ? "success" : "error", dataString(run.answers[0], u"result").value_or(""));
    EXPECT_EQ(field(u"description"), dataString(run.answers[0], u"description").value_or(""));
    EXPECT_EQ(std::string::npos, run.answers[0].find("9999"));
    if (success) {
      std::string certificate = dataString(run.answers[0], u"certificate").value_or("");
      std::string signature = dataString(run.answers[1], u"signature").value_or("");
      EXPECT_TRUE(opensslVerifies(tempPath(), signature, certificate, tempPath() + "/data.bin"));
      EXPECT_FALSE(
          opensslVerifies(tempPath(), signature, certificate, tempPath() + "/altered.bin"));
    }
    std::string dialog = readFile(tempPath() + "/pinentry.log");
    EXPECT_EQ(field(u"asked").empty(), dialog.empty()) << dialog;
    if (!field(u"asked").empty()) {
      EXPECT_NE(std::string::npos, dialog.find(field(u"asked") + "\n")) << dialog;
      EXPECT_NE(std::string::npos, dialog.find('"' + field(u"named") + '"')) << dialog;
    }
  }
}

// Token files lost under an open session: the host goes on, the session closes.
TEST_F(HostTokenTest, TokenGoneDuringASessionFailsInPlainWords) {
  writeFile(tempPath() + "/data.bin", "abc");
  HostProcess host(tokenEnvironment("pkcs11"));
  ASSERT_TRUE(host.writeFrame(request(R"(openCryptoProvider","containerName":"ec")")));
  std::string opened = host.readFrame().value_or("");
  const std::size_t at = opened.find(R"("handleProvider":)");
  ASSERT_NE(std::string::npos, at) << opened;
  const std::string provider =
      R"(","handleProvider":)" + opened.substr(at + 17, opened.find(',', at) - at - 17);
  std::filesystem::remove_all(tokens.path() + "/tokens");
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
