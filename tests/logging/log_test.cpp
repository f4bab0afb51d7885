#include "logging/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

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
// A record's pattern: time stamp, severity, process, function@line, text.
std::string record(const std::string& severity, const std::string& function,
                   const std::string& text) {
  return "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} " + severity + " \\[\\d+\\] \\[" +
         function + "@\\d+\\] " + text + "\n";
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TMPDIR", tmp_.path().c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
  }

  // The text of each log file in the host's folder.
  std::vector<std::string> logs() const {
    std::vector<std::string> files;
    for (const auto& name : tmp_.entries(tmp_.hostFolder())) {
      if (!std::regex_match(name, kLogName)) continue;
      std::ifstream in(tmp_.hostPath() + "/" + name);
      files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
  }
  TempDir tmp_;
};

int countingPiece(int& calls) { return ++calls; }

// Pieces below the threshold are never evaluated and a log file appears at its
// first record; each start draws from the same seed, so the debug log finds the
// error log's name taken and must draw again.
TEST_F(LogTest, WritesLazilyAboveTheThresholdUnderAFreeName) {
  // In a child process: the logger starts once per process.
  EXPECT_EXIT(
      {
        int calls = 0;
        startLog(logging::none);
        LOG_ERROR << countingPiece(calls);
        if (calls != 0 || !logs().empty()) ::_exit(1);
        startLog(logging::error);
        LOG_DEBUG << countingPiece(calls);
        if (calls != 0 || !logs().empty()) ::_exit(2);
        vorna::Probe::run();
        startLog(logging::debug);
        vorna::Probe::run();
        ::_exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  auto files = logs();
  ASSERT_EQ(files.size(), 2u);
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.size() < b.size(); });
  const std::string probe =
      record("ERROR", "vorna::Probe::run", "probe 42 \xc3\xa9 \xef\xbf\xbd\xf4\x8f\xbf\xbf");
  EXPECT_TRUE(std::regex_match(files[0], std::regex(probe))) << files[0];
  const std::string start = record("DEBUG", "startLog", "Start quorvant\\.\\.\\.");
  EXPECT_TRUE(std::regex_match(files[1], std::regex(start + probe))) << files[1];
}

}  // namespace
