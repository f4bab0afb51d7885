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
    LOG_ERROR << u"probe " << 42 << u" \u00e9 " << std::u16string(u"\xd800") << u"\U0010FFFF";
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
  EXPECT_EQ(match[3], "probe 42 \xc3\xa9 \xef\xbf\xbd\xf4\x8f\xbf\xbf");
}

int countingPiece(int& calls) { return ++calls; }

// Pieces below the threshold are never evaluated; the file appears at the first record.
TEST_F(LogTest, NoneAndErrorCreateTheFileLazily) {
  EXPECT_EQ(runInChild([] {
              int calls = 0;
              startLog(logging::none);
              LOG_ERROR << countingPiece(calls);
              return calls;
            }),
            0);
  EXPECT_TRUE(logFiles().empty());
  EXPECT_EQ(runInChild([this] {
              int calls = 0;
              startLog(logging::error);
              LOG_DEBUG << countingPiece(calls);
              if (calls != 0 || !logFiles().empty()) return 1;
              LOG_ERROR << u"first error";
              return logFiles().size() == 1 ? 0 : 2;
            }),
            0);
  auto records = lines(logFiles().at(0));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(records[0].find(" ERROR ["), std::string::npos);
  EXPECT_NE(records[0].find("] first error"), std::string::npos);
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

}  // namespace
