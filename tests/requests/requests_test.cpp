#include "requests/request_fields.h"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include <memory>
#include <string>
#include <tuple>

#include "requests/processing_message.h"
#include "requests/staged_content.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(HandleProvider, ReadsTruncatedLow32Bits) {
  // The request, whether it has a handle, the handle read.
  const std::tuple<const char16_t*, bool, std::uint32_t> cases[] = {
      {uR"({"data":{"handleProvider":7}})", true, 7},
      {uR"({"data":{"handleProvider":"7"}})", false, 0},
      {uR"({"data":{"handleProvider":3.9}})", true, 3},
      {uR"({"data":{"handleProvider":-2.5}})", true, 4294967294u},
      {uR"({"data":{"handleProvider":4294967295}})", true, 4294967295u},
      {uR"({"data":{"handleProvider":4294967296}})", true, 0},
      {uR"({"data":{"handleProvider":1e30}})", true, 0},
      {uR"({"data":{"handleProvider":1e400}})", true, 0},
      {uR"({"data":{"handleProvider":null}})", false, 0},
      {uR"({"handleProvider":7,"data":{}})", false, 0},
  };
  for (const auto& [text, has, handle] : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::u16string(text)));
    const auto request = JsonValue::parse(text);
    ASSERT_TRUE(request);
    EXPECT_EQ(hasHandleProvider(*request), has);
    EXPECT_EQ(getHandleProvider(*request), handle);
  }
}

TEST(StringReaders, DefaultToEmptyForMissingOrMistypedMembers) {
  struct Case {
    const char16_t* request;
    std::u16string contentId, action, container, directory, path;
  };
  const Case cases[] = {
      {uR"({"contentId":"42","data":{"requestAction":"getCertificate","containerName":"C1",)"
       uR"("workingDirectory":"/w","fileDataPath":"/f"}})",
       u"42", u"getCertificate", u"C1", u"/w", u"/f"},
      {uR"({"contentId":42,"data":{"requestAction":1,"containerName":null,"workingDirectory":[],)"
       uR"("fileDataPath":{}}})",
       u"", u"", u"", u"", u""},
      {uR"({"data":"requestAction"})", u"", u"", u"", u"", u""},
      {uR"({"requestAction":"getCertificate","data":{}})", u"", u"", u"", u"", u""},
      {uR"({"data":{"RequestAction":"getCertificate","ContainerName":"C1"}})", u"", u"", u"", u"",
       u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::u16string(c.request)));
    const auto request = JsonValue::parse(c.request);
    ASSERT_TRUE(request);
    EXPECT_EQ(getContentId(*request), c.contentId);
    EXPECT_EQ(getRequestAction(*request), c.action);
    EXPECT_EQ(getContainerName(*request), c.container);
    EXPECT_EQ(getWorkingDirectory(*request), c.directory);
    EXPECT_EQ(getFileDataPath(*request), c.path);
  }
}

// The page never learns the name of a part whose answer is replaced for its
// size, so nothing may stay staged until the input ends.
TEST(StageContent, PartWhoseAnswerIsTooLargeIsNotKept) {
  TempDir temp;
  const std::string request =
      R"({"data":{"requestAction":"stageContent","contentFile":"aGVs","workingDirectory":")" +
      temp.path() + R"(","pad":")" + std::string(kMaxAnswerBytes, 'x') + "\"}}";
  const std::u16string answer = processingMessage(std::u16string(request.begin(), request.end()));
  EXPECT_NE(std::u16string::npos, answer.find(u"Answer too large")) << answer.size();
  EXPECT_EQ(std::vector<std::string>{}, temp.entries());
}

// As on a full disk: files may not grow past 4 bytes, so the second part
// fails, says why and takes the staged file with it.
TEST(StageContent, PartThatCannotBeWrittenRemovesItsFile) {
  TempDir temp;
  const auto stageTwoParts = [&temp] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    setrlimit(RLIMIT_FSIZE, &limit);
    StagedProgress progress;
    std::u16string description;
    const bool first = stageContent(*JsonValue::parse(uR"({"data":{"contentFile":"aGVs",)"
                                                      uR"("workingDirectory":")" +
                                                      temp.widePath() + u"\"}}"),
                                    progress, description);
    const bool second =
        stageContent(*JsonValue::parse(uR"({"data":{"contentFile":"aGVs","stagedContent":")" +
                                       progress.name + u"\"}}"),
                     progress, description);
    if (!first || second || !temp.entries().empty()) return 1;
    return description.rfind(u"Error write data file: ", 0) == 0 ? 0 : 2;
  };
  EXPECT_EXIT(::_exit(stageTwoParts()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
