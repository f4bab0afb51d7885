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
#include "vendor/tokens/software/container_store.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The tokens and containers every case starts from; a case works on a copy.
TempDir made;

class HostTokenTest : public HostTest {
 protected:
  static void SetUpTestSuite() {
    if (fs::exists(made.path() + "/tokens")) return;  // made in an earlier repetition
    std::string command =
        "bash " QUORVANT_PKCS11_TESTS "/softhsm_tokens.sh " + made.path() + " >/dev/null";
    ASSERT_EQ(0, std::system(command.c_str()));
    const std::pair<const char*, tokens::software::ContainerProtection> kContainers[] = {
        {"locked", {"secret"}}, {"percent", {"50% off"}}, {"asks", {"", true}}, {"quiet", {}}};
    for (const auto& [name, protection] : kContainers) {
      tokens::Credential credential;
      std::string error;
      ASSERT_TRUE(tokens::makeSelfSigned(name, {}, credential, error)) << error;
      ASSERT_TRUE(tokens::software::saveContainer(made.path() + "/store", name, credential, false,
                                                  error, protection))
          << error;
    }
  }
  // Each override ("NAME=value") replaces the default of that name.
  Environment tokenEnvironment(const std::string& library,
                               const std::vector<std::string>& overrides) const {
    Environment entries = {std::string("LD_LIBRARY_PATH=") +
                               (library == "pkcs11" ? QUORVANT_PKCS11_DIR : QUORVANT_SOFTTOKEN_DIR),
                           "QUORVANT_TOKEN_STORE=" + made.path() + "/store",
                           "SOFTHSM2_CONF=" + tempPath() + "/softhsm2.conf",
                           "QUORVANT_PKCS11_MODULE=" QUORVANT_SOFTHSM_MODULE,
                           "QUORVANT_PKCS11_CONFIG=" + tempPath() + "/pkcs11.conf",
                           "QUORVANT_PINENTRY=" QUORVANT_PKCS11_TESTS "/scripted_pinentry.sh",
                           "PINENTRY_ACTION=pin",
                           "PINENTRY_PIN=1234",
                           "PINENTRY_LOG=" + tempPath() + "/pinentry.log"};
    for (const std::string& override : overrides) {
      for (std::string& entry : entries) {
        const std::size_t name = entry.find('=') + 1;
        if (override.compare(0, name, entry, 0, name) == 0) entry = override;
      }
    }
    return environment(entries);
  }
};

// A usable key signs; a failure is an answer in plain words, never the PIN;
// the host ends cleanly whatever is left open.
TEST_F(HostTokenTest, KeysSignAndFailuresReadAsPlainWords) {
  const std::string content = "Quorvant signs \x01\x02 with a token\n";
  writeFile(tempPath() + "/data.bin", content);
  writeFile(tempPath() + "/default.conf", "# chosen key\ndefault = T1/ec\n");
  writeFile(tempPath() + "/module.conf", "module = " + tempPath() + "/data.bin\n");
  const std::string data = R"(,"fileDataPath":")" + tempPath() + "/data.bin\"";
  std::unique_ptr<JsonValue> cases =
      parseAnswer(readFile(QUORVANT_PKCS11_TESTS "/host_token_cases.json"));
  ASSERT_TRUE(cases && cases->child(u"cases") && cases->child(u"cases")->isArray());
  for (const std::unique_ptr<JsonValue>& test : cases->child(u"cases")->asArray()) {
    const auto text = [&](const JsonValue* value) {
      std::string text = value != nullptr && value->isString() ? wideToUtf8(value->asString()) : "";
      const std::size_t tmp = text.find("{tmp}");
      return tmp == std::string::npos ? text : text.replace(tmp, 5, tempPath());
    };
    const auto field = [&](const char16_t* name) { return text(test->child(name)); };
    const auto list = [&](const char16_t* name) {
      const JsonValue* value = test->child(name);
      std::vector<std::string> items;
      if (value != nullptr && value->isString()) items.push_back(text(value));
      if (value != nullptr && value->isArray()) {
        for (const auto& item : value->asArray()) items.push_back(text(item.get()));
      }
      return items;
    };
    SCOPED_TRACE(wideToUtf8(test->stringify()));
    // Fresh tokens: no case sees what another did to them (PIN tries, removal).
    fs::remove_all(tempPath() + "/tokens");
    fs::copy(made.path() + "/tokens", tempPath() + "/tokens", fs::copy_options::recursive);
    writeFile(tempPath() + "/softhsm2.conf",
              "directories.tokendir = " + tempPath() + "/tokens\nobjectstore.backend = file\n");
    fs::remove(tempPath() + "/pinentry.log");
    std::vector<std::string> overrides = list(u"environment");
    if (test->child(u"proxy") != nullptr) overrides.emplace_back("QUORVANT_PKCS11_MODULE=");
    HostProcess host(tokenEnvironment(field(u"library"), overrides));
    const auto ask = [&](const std::string& body) {
      EXPECT_TRUE(host.writeFrame(R"({"contentId":"1","data":{"requestAction":")" + body + "}}"));
      return host.readFrame().value_or("");
    };
    // Sessions left open, their handles as request members.
    std::vector<std::string> providers;
    for (const std::string& name : list(u"open")) {
      std::string opened = ask(R"(openCryptoProvider","containerName":")" + name + "\"");
      const std::size_t at = opened.find(R"("handleProvider":)");
      ASSERT_NE(std::string::npos, at) << opened;
      providers.push_back(R"(","handleProvider":)" +
                          opened.substr(at + 17, opened.find(',', at) - at - 17));
    }
    if (test->child(u"removed") != nullptr) fs::remove_all(tempPath() + "/tokens");
    const bool success = field(u"description").empty();
    if (test->child(u"container") != nullptr) {
      const std::string name = R"(","containerName":")" + field(u"container") + "\"";
      std::string answer;
      for (int i = test->child(u"tries") != nullptr ? 2 : 1; i > 0; --i) {
        answer = ask("getCertificate" + name);
      }
      EXPECT_EQ(success ? "success" : "error", dataString(answer, u"result").value_or(""));
      EXPECT_EQ(field(u"description"), dataString(answer, u"description").value_or(""));
      EXPECT_EQ(std::string::npos, answer.find("9999"));
      if (success) {
        std::string certificate = dataString(answer, u"certificate").value_or("");
        // With a session left open, it signs: another session came and went.
        const std::string signer = providers.empty() ? name : providers[0];
        std::string signature =
            dataString(ask("getSignature" + signer + data), u"signature").value_or("");
        EXPECT_TRUE(opensslVerifies(tempPath(), signature, certificate, tempPath() + "/data.bin"));
      }
    } else if (!success) {
      EXPECT_EQ(
          field(u"description"),
          dataString(ask("getSignature" + providers.at(0) + data), u"description").value_or(""));
    }
    if (test->child(u"close") != nullptr) {
      for (const std::string& provider : providers) {
        EXPECT_EQ("success",
                  dataString(ask("closeCryptoProvider" + provider), u"result").value_or(""));
      }
    }
    host.closeInput();
    EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();  // no signal either
    std::string dialog = readFile(tempPath() + "/pinentry.log");
    EXPECT_EQ(field(u"asked").empty(), dialog.empty()) << dialog;
    if (!field(u"asked").empty()) {
      EXPECT_NE(std::string::npos, dialog.find(field(u"asked") + "\n")) << dialog;
      EXPECT_NE(std::string::npos, dialog.find('"' + field(u"named") + '"')) << dialog;
    }
  }
}

}  // namespace
