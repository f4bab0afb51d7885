// The host built with its diagnostic log on: what a support engineer reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "tests/process/host_process.h"

extern char** environ;

namespace {

class HostLogTest : public HostTest {
 protected:
  // Runs the logging host with `input` as its whole standard input; returns
  // the records of the one log file it wrote.
  std::vector<std::string> runLogged(const std::string& input) {
    std::string in = tempPath() + "/input", out = tempPath() + "/output";
    std::ofstream(in, std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<std::string> variables = environment();
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
#ifdef QUORVANT_HOST_EMULATOR
    char* argv[] = {const_cast<char*>(QUORVANT_HOST_EMULATOR),
                    const_cast<char*>(QUORVANT_DEBUG_LOG_HOST_PATH), nullptr};
#else
    char* argv[] = {const_cast<char*>(QUORVANT_DEBUG_LOG_HOST_PATH), nullptr};
#endif
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::vector<std::string> records;
    for (const auto& name : temp_.entries(temp_.hostFolder())) {
      if (!std::regex_match(name, std::regex("Quorvant_[0-9A-Za-z]{7}\\.log"))) continue;
      std::ifstream log(temp_.hostPath() + "/" + name);
      for (std::string line; std::getline(log, line);) records.push_back(line);
    }
    return records;
  }
};

// "DEBUG [tid] [tag@line] message" without the time stamp.
std::string shape(const std::string& record) {
  static const std::regex kRecord(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\w+) +\[\d+\] \[([^@]+)@\d+\] (.*))");
  std::smatch match;
  if (!std::regex_match(record, match, kRecord)) return "malformed: " + record;
  return match[1].str() + " " + match[2].str() + " " + match[3].str();
}

TEST_F(HostLogTest, RecordsEveryStepUnderItsFunctionTag) {
  std::string request = R"({"data":{"requestAction":"getCertificate","containerName":"missing-key"}})";
  auto records = runLogged(frame("[]") + frame(request) + lengthBytes(0));
  std::vector<std::string> shapes;
  for (const auto& record : records) shapes.push_back(shape(record));
  const std::vector<std::string> expected = {
      "DEBUG startLog Start quorvant...",
      "DEBUG main Read message size: 2",
      "DEBUG main Read message: []",
      "ERROR processingMessage The root element is not an object",
      "DEBUG main Send to browser: ",
      "DEBUG writeMessage Write message size: 0",
      "DEBUG main Read message size: " + std::to_string(request.size()),
      "DEBUG main Read message: " + request,
      "DEBUG processingMessage Action getCertificate...",
      "DEBUG vorna::DataSigned::getCertificate Start getCertificate...",
      "DEBUG vorna::DataSigned::getCertificate Handle provider: 0",
      "DEBUG vorna::DataSigned::getCertificate Public key id: missing-key",
      "DEBUG vorna::DataSigned::getCertificate Use handle provider: no",
      "DEBUG vorna::DataSigned::openProvider Start openProvider...",
      "DEBUG vorna::DataSigned::openProvider Public key id: missing-key",
      "DEBUG vorna::DataSigned::openCryptoProvider Start AvCmInit( AVCMF_STARTUP )...",
      "DEBUG vorna::DataSigned::openCryptoProvider AvCmInit( AVCMF_STARTUP ) success...",
      "DEBUG vorna::DataSigned::openCryptoProvider Start AvCmLogin...",
      "ERROR vorna::DataSigned::openCryptoProvider AAvCmLogin: Key container not found",
  };
  ASSERT_GE(shapes.size(), expected.size() + 3);
  EXPECT_EQ(std::vector<std::string>(shapes.begin(), shapes.begin() + expected.size()), expected);
  std::string answer = R"({"data":{"containerName":"missing-key","description":"Key container not found",)"
                       R"("requestAction":"getCertificate","result":"error"}})";
  EXPECT_EQ(shapes[shapes.size() - 3], "DEBUG main Send to browser: " + answer);
  EXPECT_EQ(shapes[shapes.size() - 2],
            "DEBUG writeMessage Write message size: " + std::to_string(answer.size()));
  EXPECT_EQ(shapes.back(), "DEBUG main Read message size: 0. Exit.");
}

TEST_F(HostLogTest, DroppedMessageIsLoggedAsAnError) {
  auto records = runLogged(frame("{\"a\":\"\xff\"}") + lengthBytes(0));
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(shape(records[2]), "ERROR main Message dropped: Invalid UTF-8");
}

}  // namespace
