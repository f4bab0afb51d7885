#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/process/host_process.h"

namespace {

namespace fs = std::filesystem;

using WindowsPaths = HostTest;

// The Windows form of a path of this machine, as Wine shows it (drive Z: is
// the root), written for a JSON string: every '\' escaped.
std::string windowsPathInJson(const std::string& unixPath) {
  std::string path = "Z:";
  for (char c : unixPath) path += c == '/' ? std::string("\\\\") : std::string(1, c);
  return path;
}

std::vector<std::string> entriesOf(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(directory, ignored)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

std::string signatureOf(const std::string& answer) {
  return fromBase64(dataString(answer, u"signature").value_or("")).value_or("<bad Base64>");
}

std::string signContent(const std::string& content, const std::string& workingDirectory) {
  std::string request = R"({"data":{"requestAction":"getSignature","containerName":"C1",)"
                        R"("contentFile":")" + toBase64(content) + "\"";
  if (!workingDirectory.empty()) request += R"(,"workingDirectory":")" + workingDirectory + "\"";
  return request + "}}";
}

// A working directory given with drive and backslashes, with or without the
// closing one, is created and holds nothing once the answer is out.
TEST_F(WindowsPaths, WorkingDirectoryWithBackslashesIsCreatedAndLeftEmpty) {
  const std::string content("windows \x00\x1a\r\n bytes", 19);
  for (const char* suffix : {"", "\\\\"}) {
    SCOPED_TRACE(std::string("working directory ending in '") + suffix + "'");
    const std::string work = tempPath() + "/work";
    fs::remove_all(work);
    HostRun run = ask({signContent(content, windowsPathInJson(work) + suffix)});
    EXPECT_EQ(0, run.exitCode) << run.errors;
    ASSERT_EQ(1u, run.answers.size());
    EXPECT_EQ(signedMessage("C1", content), signatureOf(run.answers[0]));
    EXPECT_TRUE(fs::is_directory(work));
    EXPECT_EQ(std::vector<std::string>{}, entriesOf(work));
    EXPECT_EQ((std::vector<std::string>{"calls.log", "work"}), temp_.entries());
  }
}

TEST_F(WindowsPaths, FileNamedWithDriveAndBackslashesIsSigned) {
  const std::string data("given\r\n\x1a data", 14);
  std::ofstream(tempPath() + "/given.bin", std::ios::binary) << data;
  HostRun run = ask({R"({"data":{"requestAction":"getSignature","containerName":"C1",)"
                     R"("fileDataPath":")" + windowsPathInJson(tempPath() + "/given.bin") +
                     R"("}})"});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(1u, run.answers.size());
  EXPECT_EQ(signedMessage("C1", data), signatureOf(run.answers[0]));
}

// Console, null and pipe names open on Windows but are no data file. (COM1
// is left out: here Wine maps it to a real serial device.)
TEST_F(WindowsPaths, DeviceAndPipeNamesAreRefusedAtOnce) {
  for (const char* name : {"CON", "NUL", R"(\\\\.\\pipe\\quorvant-test)"}) {
    SCOPED_TRACE(name);
    HostRun run = ask({R"({"data":{"requestAction":"getSignature","containerName":"C1",)"
                       R"("fileDataPath":")" + std::string(name) + R"("}})"});
    ASSERT_EQ(1u, run.answers.size());
    EXPECT_EQ("Error open file data", dataString(run.answers[0], u"description").value_or(""));
  }
}

// GetTempPathW under Wine gives the Wine user's temporary folder, whatever
// TMPDIR says; the stage script passes its place on this machine.
TEST_F(WindowsPaths, DefaultDataDirectoryIsInTheUsersTemporaryFolder) {
  const char* wineTemp = std::getenv("QUORVANT_WINE_TEMP");
  ASSERT_TRUE(wineTemp != nullptr && *wineTemp != '\0')
      << "QUORVANT_WINE_TEMP must name the Wine user's temporary folder";
  const std::string directory = std::string(wineTemp) + "/vorna_data_signed";
  const std::string content = "default directory content";
  HostRun run = ask({signContent(content, "")});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(1u, run.answers.size());
  EXPECT_EQ(signedMessage("C1", content), signatureOf(run.answers[0]));
  EXPECT_TRUE(fs::is_directory(directory));
  EXPECT_EQ(std::vector<std::string>{}, entriesOf(directory));
  // Logging is off: no log file in the temporary folder, none in TMPDIR.
  const std::regex logName("Quorvant_[0-9A-Za-z]{7}\\.log");
  for (const std::string& name : entriesOf(wineTemp)) {
    EXPECT_FALSE(std::regex_match(name, logName)) << name;
  }
  EXPECT_EQ(std::vector<std::string>{"calls.log"}, temp_.entries());
}

}  // namespace
