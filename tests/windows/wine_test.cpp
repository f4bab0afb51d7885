// Windows-only behaviour of the host under Wine, beside the process rows.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include "tests/process/host_process.h"

namespace {

// Built into the process tests; they run here only against the Windows host.
class WineHost : public HostTest {
 protected:
  void SetUp() override {
    if (!hostIsLaunched()) GTEST_SKIP() << "Windows host under Wine only";
  }
};

// The log name is drawn under one named mutex at start-up, every data file
// under the other; a holder of either (named_mutex_holder.exe, in the same
// Wine prefix) stops the host there, a holder of another name does not.
TEST_F(WineHost, HostWaitsForTheHolderOfItsMutex) {
  const std::string sign = R"({"data":{"requestAction":"getSignature","containerName":"C1",)"
                           R"("contentFile":"aGVsbG8=","workingDirectory":")" +
                           tempPath() + R"(/work"}})";
  const std::string certificate =
      R"({"data":{"requestAction":"getCertificate","containerName":"C1"}})";
  const struct {
    const char* lock;
    std::string request;
    bool blocks;
  } cases[] = {{"quorvantCreateDataFileLock", sign, true},
               {"quorvantCreateLogNameLock", certificate, true},
               {"quorvantCreateDataFileLock", certificate, false},
               {"quorvantSomeOtherLock", sign, false}};
  const std::string holderPath =
      hostPath().substr(0, hostPath().rfind('/')) + "/named_mutex_holder.exe";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.lock) + (c.blocks ? " blocks" : " does not block"));
    HostProcess holder(environment(), holderPath);
    ASSERT_TRUE(holder.write(std::string(c.lock) + "\n"));
    ASSERT_EQ("held", holder.readFrame().value_or("<nothing>"));
    HostProcess host(environment());
    ASSERT_TRUE(host.writeFrame(c.request));
    std::atomic<bool> answered{false};
    std::optional<std::string> answer;
    std::thread reader([&] {
      answer = host.readFrame();
      answered = true;
    });
    if (c.blocks) {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      EXPECT_FALSE(answered) << "answered while the mutex was held";
    }
    holder.closeInput();
    reader.join();
    EXPECT_EQ("success", dataString(answer.value_or(""), u"result").value_or("<no answer>"));
    host.closeInput();
    EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
    EXPECT_EQ(0, holder.waitForExit());
  }
}

// GetTempPathW under Wine gives the Wine user's temporary folder whatever
// TMPDIR says; the stage script passes its place on this machine.
TEST_F(WineHost, DefaultDataDirectoryIsInTheUsersTemporaryFolder) {
  const char* wineTemp = std::getenv("QUORVANT_WINE_TEMP");
  ASSERT_TRUE(wineTemp != nullptr && *wineTemp != '\0') << "QUORVANT_WINE_TEMP is not set";
  const HostRun run = runHost(
      frame(
          R"({"data":{"requestAction":"getSignature","containerName":"C1","contentFile":"aGVsbG8="}})"),
      environment());
  ASSERT_EQ(1u, run.answers.size()) << run.errors;
  EXPECT_EQ(signatureOf("C1", "hello"), dataString(run.answers[0], u"signature"));
  const std::regex logName("Quorvant_[0-9A-Za-z]{7}\\.log");
  for (const auto& entry : std::filesystem::directory_iterator(wineTemp)) {
    EXPECT_FALSE(std::regex_match(entry.path().filename().string(), logName)) << entry.path();
  }
  EXPECT_TRUE(std::filesystem::is_empty(std::string(wineTemp) + "/vorna_data_signed"));
  EXPECT_EQ(std::vector<std::string>{"calls.log"}, temp_.entries());
}

}  // namespace
