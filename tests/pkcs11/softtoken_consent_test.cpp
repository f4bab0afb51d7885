// The software token asks before a session: a container's passphrase, or a
// confirmation, through the scripted pinentry. Containers are made by
// quorvant_token with its protection options, then the built host runs as a
// browser runs it.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/process/host_process.h"

namespace {

class SoftTokenConsentTest : public HostTest {
 protected:
  std::string store() const { return tempPath() + "/store"; }
  std::string pinentryLog() const {
    std::ostringstream text;
    text << std::ifstream(tempPath() + "/pinentry.log").rdbuf();
    return text.str();
  }
  // quorvant_token with the scripted pinentry; its exit code.
  int tool(const std::string& arguments, const std::string& pinentry = "PINENTRY_PIN=chosen") {
    std::string command = "QUORVANT_TOKEN_STORE=" + store() +
                          " QUORVANT_PINENTRY=" + QUORVANT_PKCS11_TESTS "/scripted_pinentry.sh " +
                          pinentry + " PINENTRY_LOG=" + tempPath() +
                          "/pinentry.log " QUORVANT_TOKEN_TOOL " " + arguments + " >/dev/null 2>&1";
    return WEXITSTATUS(std::system(command.c_str()));
  }
};

TEST_F(SoftTokenConsentTest, SessionsNeedThePassphraseOrAConfirmation) {
  std::ofstream(tempPath() + "/passphrase") << "secret\n";
  ASSERT_EQ(0, tool("create locked --passphrase-file " + tempPath() + "/passphrase"));
  std::ofstream(tempPath() + "/percent") << "50% off\n";
  ASSERT_EQ(0, tool("create percent --passphrase-file " + tempPath() + "/percent"));
  ASSERT_EQ(0, tool("create asks --no-passphrase"));
  ASSERT_EQ(0, tool("create quiet --no-passphrase --no-confirm"));
  // Without an option the passphrase is chosen in pinentry, entered twice.
  ASSERT_EQ(0, tool("create chosen"));
  EXPECT_NE(std::string::npos, pinentryLog().find("SETREPEAT")) << pinentryLog();
  EXPECT_EQ(1, tool("create refused", "PINENTRY_ACTION=cancel"));
  EXPECT_EQ(1, tool("create both --no-passphrase --passphrase-file " + tempPath() + "/passphrase"));

  const struct {
    const char* container;
    const char* pinentry;     // environment entry for the scripted pinentry
    const char* description;  // "" for success
    const char* asked;        // the dialog's last command, "" for none
  } kCases[] = {
      {"locked", "PINENTRY_PIN=secret", "", "GETPIN"},
      {"locked", "PINENTRY_PIN=wrong", "Wrong passphrase: locked", "GETPIN"},
      {"locked", "PINENTRY_ACTION=cancel", "Cancelled by the user", "GETPIN"},
      {"chosen", "PINENTRY_PIN=chosen", "", "GETPIN"},
      {"percent", "PINENTRY_PIN=50% off", "", "GETPIN"},  // escaped in the protocol
      {"asks", "PINENTRY_ACTION=confirm", "", "CONFIRM"},
      {"asks", "PINENTRY_ACTION=cancel", "Cancelled by the user", "CONFIRM"},
      {"asks", "QUORVANT_PINENTRY=/nonexistent/pinentry",
       "No dialog (pinentry) can be started to ask the user: cannot start pinentry: No such "
       "file or directory",
       ""},
      {"quiet", "QUORVANT_PINENTRY=/nonexistent/pinentry", "", ""},
  };
  for (const auto& test : kCases) {
    std::remove((tempPath() + "/pinentry.log").c_str());
    HostRun run = runHost(
        frame(R"({"contentId":"1","data":{"requestAction":"getCertificate","containerName":")" +
              std::string(test.container) + "\"}}"),
        environment({test.pinentry, "LD_LIBRARY_PATH=" QUORVANT_SOFTTOKEN_DIR,
                     "QUORVANT_TOKEN_STORE=" + store(),
                     "QUORVANT_PINENTRY=" QUORVANT_PKCS11_TESTS "/scripted_pinentry.sh",
                     "PINENTRY_LOG=" + tempPath() + "/pinentry.log"}));
    ASSERT_EQ(1u, run.answers.size()) << run.errors;
    EXPECT_EQ(test.description, dataString(run.answers[0], u"description").value_or(""))
        << test.container << " " << test.pinentry;
    std::string log = pinentryLog();
    EXPECT_EQ(*test.asked == '\0', log.empty()) << log;
    if (*test.asked != '\0') {
      EXPECT_NE(std::string::npos, log.find(std::string(test.asked) + "\n")) << log;
      EXPECT_NE(std::string::npos, log.find("key container \"" + std::string(test.container)));
    }
  }
}

}  // namespace
