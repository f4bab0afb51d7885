// The built host with the PKCS#11 library in place of the test double, over
// SoftHSM2 tokens (softhsm_tokens.sh) and the scripted pinentry, run as a
// browser runs it; OpenSSL's command line judges the signatures.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/process/host_process.h"

namespace {

std::string request(const std::string& data) {
  return R"({"contentId":"1","data":{)" + data + "}}";
}
class Pkcs11HostTest : public HostTest {
 protected:
  static void SetUpTestSuite() {
    tokens_ = new TempDir();
    std::string command =
        "bash " QUORVANT_PKCS11_TESTS "/softhsm_tokens.sh " + tokens_->path() + " >/dev/null";
    ASSERT_EQ(0, std::system(command.c_str()));
  }
  static void TearDownTestSuite() { delete tokens_; }

  std::string path(const std::string& name) const { return tempPath() + "/" + name; }
  std::string readFile(const std::string& name) const {
    std::ostringstream bytes;
    bytes << std::ifstream(path(name), std::ios::binary).rdbuf();
    return bytes.str();
  }

  // The defaults less those that `overrides` replace, then the overrides.
  Environment tokenEnvironment(const Environment& overrides = {}) const {
    Environment defaults = {"LD_LIBRARY_PATH=" QUORVANT_PKCS11_DIR,
                            "SOFTHSM2_CONF=" + tokens_->path() + "/softhsm2.conf",
                            "QUORVANT_PKCS11_MODULE=" QUORVANT_SOFTHSM_MODULE,
                            "QUORVANT_PKCS11_CONFIG=" + path("pkcs11.conf"),
                            "QUORVANT_PINENTRY=" QUORVANT_PKCS11_TESTS "/scripted_pinentry.sh",
                            "PINENTRY_PIN=1234",
                            "PINENTRY_LOG=" + path("pinentry.log")};
    Environment chosen = overrides;
    for (const std::string& entry : defaults) {
      const std::string name = entry.substr(0, entry.find('=') + 1);
      if (std::none_of(overrides.begin(), overrides.end(),
                       [&](const std::string& given) { return given.rfind(name, 0) == 0; })) {
        chosen.push_back(entry);
      }
    }
    return environment(chosen);
  }
  // What a browser does in one host: open a session on `container`, fetch
  // the certificate, sign the file `data`, close. The four answers.
  std::vector<std::string> browserSession(
      const std::string& container, const std::function<void()>& afterOpen = [] {}) const {
    HostProcess host(tokenEnvironment());
    std::vector<std::string> answers;
    std::optional<std::string> reply;
    if (!host.writeFrame(request(R"("requestAction":"openCryptoProvider","containerName":")" +
                                 container + "\"")) ||
        !(reply = host.readFrame())) {
      return answers;
    }
    answers.push_back(*reply);
    std::unique_ptr<JsonValue> answer = parseAnswer(*reply);
    const JsonValue* handle = answer ? answer->child(u"data")->child(u"handleProvider") : nullptr;
    if (handle == nullptr || !handle->isNumber()) return answers;
    std::string number = std::to_string(static_cast<std::uint32_t>(handle->asNumber()));
    afterOpen();
    for (const std::string& data :
         {R"("requestAction":"getCertificate","handleProvider":)" + number,
          R"("requestAction":"getSignature","handleProvider":)" + number + R"(,"fileDataPath":")" +
              path("data.bin") + "\"",
          R"("requestAction":"closeCryptoProvider","handleProvider":)" + number}) {
      if (!host.writeFrame(request(data)) || !(reply = host.readFrame())) break;
      answers.push_back(*reply);
    }
    host.closeInput();
    EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
    return answers;
  }

  static TempDir* tokens_;
};

TempDir* Pkcs11HostTest::tokens_ = nullptr;

TEST_F(Pkcs11HostTest, EcdsaAndRsaKeysSignVerifiablyWithOnePinPerSession) {
  const std::string content = "Quorvant signs \x01\x02 with a token\n";
  writeFile(path("data.bin"), content);
  writeFile(path("altered.bin"), content + " ");
  for (const std::string container : {"ec", "T1/rsa"}) {
    std::remove(path("pinentry.log").c_str());
    std::vector<std::string> answers = browserSession(container);
    ASSERT_EQ(4u, answers.size()) << container;
    for (const std::string& answer : answers) {
      EXPECT_EQ("success", dataString(answer, u"result").value_or("")) << answer;
    }
    std::string certificate = dataString(answers[1], u"certificate").value_or("");
    std::string signature = dataString(answers[2], u"signature").value_or("");
    EXPECT_TRUE(opensslVerifies(tempPath(), signature, certificate, path("data.bin"))) << container;
    EXPECT_FALSE(opensslVerifies(tempPath(), signature, certificate, path("altered.bin")))
        << container;
    // The token's own certificate, DER; one PIN dialog naming token and key.
    std::string key = container == "ec" ? "ec" : "rsa";
    std::ifstream der(tokens_->path() + "/" + key + ".cert.der", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(der), {}),
              fromBase64(certificate).value_or(""));
    std::string dialog = readFile("pinentry.log");
    EXPECT_NE(std::string::npos, dialog.find("with the key \"T1/" + key + "\"")) << dialog;
    EXPECT_EQ(dialog.find("GETPIN"), dialog.rfind("GETPIN")) << dialog;
  }
}

// Every failure is an answer with a plain text, never a hang or a crash, and
// never the PIN.
TEST_F(Pkcs11HostTest, FailuresReadAsPlainWords) {
  writeFile(path("not-a-module.so"), "text");
  writeFile(path("default.conf"), "# chosen key\ndefault = T1/ec\n");
  const struct {
    const char* container;
    Environment overrides;
    const char* description;  // "" for success
  } kCases[] = {
      {"absent", {}, "Key not found: absent"},
      {"twin", {}, R"(More than one key has this name: twin ("T1/twin", "T2/twin"))"},
      {"T2/twin", {"PINENTRY_PIN=5678"}, ""},
      {"nocert", {}, R"(The key has no certificate: "T1/nocert")"},
      {"",
       {},
       "No default key: the tokens hold 5 keys and the configuration names none as the "
       "default"},
      {"", {"QUORVANT_PKCS11_CONFIG=" + path("default.conf")}, ""},
      {"ec", {"PINENTRY_PIN=9999"}, "Wrong PIN: the token did not accept it"},
      // After a failure the token warns, and so does the answer.
      {"ec", {"PINENTRY_PIN=9999"}, "Wrong PIN: the token did not accept it; few tries are left"},
      {"ec", {"PINENTRY_ACTION=cancel"}, "Cancelled by the user"},
      {"ec",
       {"PINENTRY_ACTION=garbage"},
       "No PIN dialog (pinentry) can be started: cannot start scripted_pinentry.sh: it does not "
       "speak the pinentry protocol"},
      {"ec",
       {"QUORVANT_PINENTRY=/nonexistent/pinentry"},
       "No PIN dialog (pinentry) can be started: cannot start pinentry: No such file or directory"},
      {"ec",
       {"QUORVANT_PKCS11_MODULE=/nonexistent/libnone.so"},
       "The PKCS#11 module cannot be loaded: libnone.so"},
      {"ec",
       {"QUORVANT_PKCS11_MODULE=" + path("not-a-module.so")},
       "The PKCS#11 module cannot be loaded: not-a-module.so"},
      // p11-kit's proxy (the default) reaches SoftHSM2 through its module file.
      {"T1/ec", {"QUORVANT_PKCS11_MODULE="}, ""},
  };
  for (const auto& test : kCases) {
    HostRun run = runHost(frame(request(R"("requestAction":"getCertificate","containerName":")" +
                                        std::string(test.container) + "\"")),
                          tokenEnvironment(test.overrides));
    ASSERT_EQ(1u, run.answers.size()) << test.container << run.errors;
    EXPECT_EQ(*test.description == '\0' ? "success" : "error",
              dataString(run.answers[0], u"result").value_or(""))
        << test.container << " " << run.answers[0];
    EXPECT_EQ(test.description, dataString(run.answers[0], u"description").value_or(""))
        << test.container;
    EXPECT_EQ(std::string::npos, run.answers[0].find("9999"));
    EXPECT_EQ(0, run.exitCode) << run.errors;
  }
}

// SoftHSM2 loses its token files under an open session: the signing fails
// in plain words, the host goes on and the session still closes. Last, as
// the suite's tokens are gone afterwards.
TEST_F(Pkcs11HostTest, TokenGoneDuringASessionFailsInPlainWords) {
  writeFile(path("data.bin"), "abc");
  std::vector<std::string> answers =
      browserSession("ec", [] { std::filesystem::remove_all(tokens_->path() + "/tokens"); });
  ASSERT_EQ(4u, answers.size());
  EXPECT_EQ("Signing failed: Object handle invalid; cms datafinal error",
            dataString(answers[2], u"description").value_or(""))
      << answers[2];
  EXPECT_EQ("success", dataString(answers[3], u"result").value_or("")) << answers[3];
}

}  // namespace
