#include "logging/log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "logging/random_string.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace vorna {
struct Probe {
  static void run() {
    LOG_ERROR << u"probe " << 42 << u" \u00e9 " << std::u16string(u"\xd800")
              << u"\U0001F600\U0010FFFF";
  }
};
}  // namespace vorna

namespace {

const std::regex kLogName("Quorvant_[0-9A-Za-z]{7}\\.log");
const std::regex kRecord(
    "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (DEBUG|ERROR) \\[\\d+\\] "
    "\\[([^@]+)@\\d+\\] (.*)");

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TMPDIR", tmp_.path().c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  void TearDown() override { ::unsetenv("TMPDIR"); }

  std::vector<std::string> logFiles() const {
    std::vector<std::string> names;
    for (const auto& name : tmp_.entries(tmp_.hostFolder())) {
      if (std::regex_match(name, kLogName)) names.push_back(name);
    }
    return names;
  }
  std::vector<std::string> lines(const std::string& name) const {
    std::ifstream in(tmp_.hostPath() + "/" + name);
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);) all.push_back(line);
    return all;
  }
  TempDir tmp_;
};

TEST_F(LogTest, NoneCreatesNoFile) {
  EXPECT_EQ(runInChild([] {
              startLog(logging::none);
              LOG_ERROR << u"never written";
              return 0;
            }),
            0);
  EXPECT_TRUE(logFiles().empty());
}

TEST_F(LogTest, DebugWritesTheStartRecordFirst) {
  EXPECT_EQ(runInChild([] {
              startLog(logging::debug);
              vorna::Probe::run();
              return 0;
            }),
            0);
  auto files = logFiles();
  ASSERT_EQ(files.size(), 1u);
  auto records = lines(files[0]);
  ASSERT_EQ(records.size(), 2u);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(records[0], match, kRecord)) << records[0];
  EXPECT_EQ(match[1], "DEBUG");
  EXPECT_EQ(match[2], "startLog");
  EXPECT_EQ(match[3], "Start quorvant...");
  ASSERT_TRUE(std::regex_match(records[1], match, kRecord)) << records[1];
  EXPECT_EQ(match[1], "ERROR");
  EXPECT_EQ(match[2], "vorna::Probe::run");
  EXPECT_EQ(match[3], "probe 42 \xc3\xa9 \xef\xbf\xbd\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf");
}

TEST_F(LogTest, ErrorCreatesTheFileAtTheFirstErrorRecord) {
  EXPECT_EQ(runInChild([this] {
              startLog(logging::error);
              LOG_DEBUG << u"not written";
              if (!logFiles().empty()) return 1;
              LOG_ERROR << u"first error";
              return logFiles().size() == 1 ? 0 : 2;
            }),
            0);
  auto records = lines(logFiles().at(0));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(records[0].find(" ERROR ["), std::string::npos);
  EXPECT_NE(records[0].find("] first error"), std::string::npos);
}

int countingPiece(int& calls) { return ++calls; }

TEST_F(LogTest, PiecesAreNotEvaluatedBelowTheThreshold) {
  EXPECT_EQ(runInChild([] {
              int calls = 0;
              startLog(logging::none);
              LOG_ERROR << countingPiece(calls);
              LOG_DEBUG << countingPiece(calls);
              return calls;
            }),
            0);
  EXPECT_EQ(runInChild([] {
              int calls = 0;
              startLog(logging::error);
              LOG_DEBUG << countingPiece(calls);
              LOG_ERROR << countingPiece(calls);
              return calls;
            }),
            1);
}

TEST_F(LogTest, TakenNameIsDrawnAgain) {
  std::string dir = tmp_.hostPath();
  ::mkdir(dir.c_str(), 0700);
  EXPECT_EQ(runInChild([dir] {
              std::srand(static_cast<unsigned>(getpid()));
              std::string first = dir + "/Quorvant_" + randomString(7) + ".log";
              std::string second = dir + "/Quorvant_" + randomString(7) + ".log";
              std::ofstream(first) << "taken";
              startLog(logging::debug);
              return std::ifstream(second) ? 0 : 1;
            }),
            0);
  EXPECT_EQ(logFiles().size(), 2u);
}

TEST_F(LogTest, TwoProcessesWriteTwoFiles) {
  pid_t first = fork();
  if (first == 0) {
    startLog(logging::debug);
    _exit(0);
  }
  pid_t second = fork();
  if (second == 0) {
    startLog(logging::debug);
    _exit(0);
  }
  waitpid(first, nullptr, 0);
  waitpid(second, nullptr, 0);
  EXPECT_EQ(logFiles().size(), 2u);
}

TEST(RandomString, DrawsFromTheNameAlphabet) {
  std::srand(1);
  std::string text = randomString(1000);
  EXPECT_EQ(text.size(), 1000u);
  EXPECT_TRUE(std::regex_match(text, std::regex("[0-9A-Za-z]+")));
  std::srand(1);
  EXPECT_EQ(randomString(1000), text);
}

TEST(FunctionTag, KeepsTheQualifiedNameOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"int main()", "main"},
      {"void startLog(int)", "startLog"},
      {"static bool vorna::DataSigned::signData(uint32_t, const char16_t*)",
       "vorna::DataSigned::signData"},
      {"std::vector<std::pair<int, int> > f(std::map<int, int>)", "f"},
      {"std::__cxx11::basic_string<char16_t> createDataFile(const std::u16string&, "
       "const std::u16string&)",
       "createDataFile"},
  };
  for (const auto& [pretty, tag] : cases) EXPECT_EQ(logging::functionTag(pretty), tag);
}

}  // namespace
