#include "files/data_file.h"
#include "requests/content_staging.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "tests/support/temp_dir.h"

namespace {

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

mode_t modeOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

class DataFileTest : public ::testing::Test {
 protected:
  // Lock files and the default data directory live apart from the files under test.
  void SetUp() override {
    ::setenv("TMPDIR", tmp_.path().c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  TempDir tmp_;
  TempDir dir_;
};

TEST_F(DataFileTest, CreateDataFileWritesExactlyTheDecodedBytes) {
  std::u16string path = createDataFile(dir_.widePath() + u"/", u"AP8AaGk=");
  ASSERT_FALSE(path.empty());
  std::string file = narrow(path);
  EXPECT_TRUE(std::regex_match(std::filesystem::path(file).filename().string(),
                               std::regex("Quorvant_[0-9A-Za-z]{7}\\.bin")));
  EXPECT_EQ(std::filesystem::path(file).parent_path().string(), dir_.path());
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string("\0\xff\0hi", 5));
  EXPECT_EQ(modeOf(file), 0600u);
  std::filesystem::remove(file);
  for (const char16_t* content : {u"", u" QUJD", u"=QUJD", u"Q"}) {
    EXPECT_EQ(createDataFile(dir_.widePath() + u"/", content), u"");
  }
  EXPECT_TRUE(dir_.entries().empty());
}

TEST_F(DataFileTest, TakenNamesAreDrawnAgain) {
  std::u16string paths[2];
  for (auto& path : paths) {
    std::srand(4242);  // the same draws: the second file finds its first name taken
    path = createDataFile(dir_.widePath() + u"/", u"QUJD");
  }
  EXPECT_NE(paths[0], paths[1]);
  EXPECT_EQ(dir_.entries().size(), 2u);
}

TEST_F(DataFileTest, FailedWriteLeavesNoFileBehind) {
  // Files may not grow past 4 bytes: the write of 6 decoded bytes fails and must be reported.
  const auto writeOverTheLimit = [this] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    setrlimit(RLIMIT_FSIZE, &limit);
    return createDataFile(dir_.widePath() + u"/", u"QUJDREVG").empty() ? 0 : 1;
  };
  EXPECT_EXIT(::_exit(writeOverTheLimit()), ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(dir_.entries().empty());
}

// Staging needs a string content; an empty one still creates the working directory.
TEST_F(DataFileTest, StagingNeedsAStringContent) {
  const std::pair<std::u16string, bool> cases[] = {
      {u"{\"workingDirectory\":\"W\",\"contentFile\":5}", false},
      {u"{\"workingDirectory\":\"W\",\"contentFile\":\"\"}", true},
  };
  for (const auto& [request, directoryCreated] : cases) {
    std::u16string data = request;
    data.replace(data.find(u"\"W\""), 3, u"\"" + dir_.widePath() + u"/w\"");
    EXPECT_EQ(stageContentFile(*JsonValue::parse((u"{\"data\":" + data + u"}").c_str())), u"");
    EXPECT_EQ(std::filesystem::exists(dir_.path() + "/w"), directoryCreated);
    EXPECT_TRUE(dir_.entries("w").empty());
  }
}

TEST_F(DataFileTest, DefaultDirectoryIsPrivateUnderTheTemporaryDirectory) {
  platform::Status status;
  EXPECT_EQ(narrow(defaultDataDirectory(status)), tmp_.hostPath() + "/vorna_data_signed/");
  EXPECT_TRUE(status.ok()) << status.text();
  EXPECT_EQ(modeOf(tmp_.hostPath() + "/vorna_data_signed"), 0700u);
}

}  // namespace
