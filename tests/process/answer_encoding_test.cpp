#include <string>
#include <vector>

#include "tests/process/host_process.h"

namespace {

using AnswerEncoding = HostTest;

struct EchoCase {
  std::string sent;      // the member's value as the request writes it
  std::string answered;  // as the answer must write it
};

// Browsers send control characters and lone surrogates as escapes; echoed
// back they must stay escapes, or the answer is no valid JSON / UTF-8.
TEST_F(AnswerEncoding, EchoedMemberIsValidJsonAndUtf8) {
  const EchoCase cases[] = {
      {R"(a\u0001b)", R"(a\u0001b)"},
      {R"(\u001F)", R"(\u001f)"},
      {R"(x\u0000y)", R"(x\u0000y)"},
      {R"(\ud800)", R"(\ud800)"},
      {R"(\uDC00z)", R"(\udc00z)"},
      {R"(\ud800\u0041)", R"(\ud800A)"},
      {R"(\ud83d\ude00)", u8"😀"},
      {R"(\n\t\"\\)", R"(\n\t\"\\)"},
      {R"(a/b)", R"(a\/b)"},
      {"\x7f\xc3\xa9", "\x7f\xc3\xa9"},
  };
  std::vector<std::string> requests;
  std::vector<std::string> expected;
  for (const EchoCase& c : cases) {
    requests.push_back(R"({"data":{"note":")" + c.sent + R"("}})");
    expected.push_back(R"({"data":{"description":"Unknow request action ","note":")" + c.answered +
                       R"(","result":"error"}})");
  }
  HostRun run = ask(requests);
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(expected.size(), run.answers.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(cases[i].sent);
    EXPECT_EQ(expected[i], run.answers[i]);
    EXPECT_NE(nullptr, parseAnswer(run.answers[i]));
  }
}

constexpr std::size_t kLimit = 1048576;

std::string tooLarge(std::size_t bytes) {
  return "Answer too large: " + std::to_string(bytes) +
         " bytes exceed the browser's limit of 1048576 bytes";
}

// The answer to a getCertificate request for C1 whose "pad" member holds
// `pad`, as the host builds it before any size check.
std::string fullAnswer(const std::string& pad) {
  return R"({"contentId":"big","data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1","pad":")" +
         pad + R"(","requestAction":"getCertificate","result":"success"}})";
}

// A pad of two-byte characters and ASCII that makes the full answer exactly
// `bytes` long in UTF-8 (its UTF-16 length is far below).
std::string padFor(std::size_t bytes) {
  constexpr std::size_t kTwoByteCharacters = 300000;
  std::string pad;
  for (std::size_t i = 0; i < kTwoByteCharacters; ++i) pad += u8"Ж";
  return pad + std::string(bytes - fullAnswer(pad).size(), 'x');
}

TEST_F(AnswerEncoding, AnswerOverTheBrowserLimitIsReplaced) {
  const std::size_t sizes[] = {kLimit, kLimit + 1, 1100000};
  std::vector<std::string> requests;
  std::vector<std::string> expected;
  for (std::size_t size : sizes) {
    std::string pad = padFor(size);
    requests.push_back(R"({"contentId":"big","data":{"requestAction":"getCertificate",)"
                       R"("containerName":"C1","pad":")" +
                       pad + R"("}})");
    const std::string replaced = R"({"contentId":"big","data":{"description":")" +
                                 tooLarge(size) +
                                 R"(","requestAction":"getCertificate","result":"error"}})";
    expected.push_back(size <= kLimit ? fullAnswer(pad) : replaced);
  }
  // A small request after them shows the host still in step.
  const std::string small =
      R"({"contentId":"ok","data":{"requestAction":"getCertificate","containerName":"C1"}})";
  requests.push_back(small);
  HostRun run = ask(requests);
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(requests.size(), run.answers.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("answer of " + std::to_string(sizes[i]) + " bytes");
    EXPECT_EQ(expected[i].size(), run.answers[i].size());
    EXPECT_TRUE(expected[i] == run.answers[i]) << run.answers[i].substr(0, 200);
  }
  EXPECT_EQ("Q0VSVDpDMQ==", dataString(run.answers.back(), u"certificate").value_or(""));
}

TEST_F(AnswerEncoding, OversizedAnswerWithoutActionKeepsOnlyResultAndDescription) {
  const std::string pad(kLimit, 'x');
  HostRun run = ask({R"({"contentId":"c","data":{"requestAction":7,"pad":")" + pad + R"("}})"});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  const std::string built =
      R"({"contentId":"c","data":{"description":"Unknow request action ","pad":")" + pad +
      R"(","requestAction":7,"result":"error"}})";
  EXPECT_EQ(std::vector<std::string>{R"({"contentId":"c","data":{"description":")" +
                                     tooLarge(built.size()) + R"(","result":"error"}})"},
            run.answers);
}

}  // namespace
