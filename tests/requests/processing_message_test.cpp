#include "requests/processing_message.h"

#include <gtest/gtest.h>

#include "text/base64.h"
#include "tests/support/fake_library.h"

namespace {

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

class ProcessingMessageTest : public ::testing::Test {
 protected:
  TempDir dir_;
  FakeLibrary fake_{dir_};
};

TEST_F(ProcessingMessageTest, AnswersByCase) {
  struct Case {
    const char* name;
    std::u16string request;
    std::u16string answer;
  };
  const Case cases[] = {
      {"not JSON: no answer", u"{", u""},
      {"array root: no answer", u"[1]", u""},
      {"only whitespace: no answer", u"  \t", u""},
      {"data missing", u"{}", uR"({"data":{"description":"Unknow request action ","result":"error"}})"},
      {"empty contentId not echoed", uR"({"contentId":"","data":{"requestAction":"x"}})",
       uR"({"data":{"description":"Unknow request action x","requestAction":"x","result":"error"}})"},
      {"other case is unknown", uR"({"contentId":"1","data":{"requestAction":"opencryptoprovider"}})",
       uR"({"contentId":"1","data":{"description":"Unknow request action opencryptoprovider",)"
       uR"("requestAction":"opencryptoprovider","result":"error"}})"},
      {"close without handle",
       uR"({"contentId":"2","data":{"requestAction":"closeCryptoProvider","handleProvider":"5"}})",
       uR"({"contentId":"2","data":{"description":"Bad parameter handleProvider in action )"
       uR"(closeCryptoProvider","handleProvider":"5","requestAction":"closeCryptoProvider",)"
       uR"("result":"error"}})"},
      {"echo: result replaced, signature kept, contentFile dropped",
       uR"({"contentId":"3","data":{"requestAction":"getCertificate","containerName":"C1",)"
       uR"("result":"x","signature":"x","contentFile":"QQ==","n":[1,{"b":null}]}})",
       uR"({"contentId":"3","data":{"certificate":")" + wide(base64Encode(
           reinterpret_cast<const std::uint8_t*>("CERT:C1"), 7)) +
           uR"(","containerName":"C1","n":[1,{"b":null}],"requestAction":"getCertificate",)"
           uR"("result":"success","signature":"x"}})"},
      {"signing without any data",
       uR"({"data":{"requestAction":"getSignature"}})",
       uR"({"data":{"description":"Bad parameter fileData in action getSignature",)"
       uR"("requestAction":"getSignature","result":"error"}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(narrow(processingMessage(c.request)), narrow(c.answer));
  }
}

TEST_F(ProcessingMessageTest, OpenAnswersTheNewHandleOverAnEchoedOne) {
  std::u16string answer = processingMessage(
      uR"({"contentId":"7","data":{"requestAction":"openCryptoProvider","containerName":"C1","handleProvider":1}})");
  auto parsed = JsonValue::parse(answer.c_str());
  ASSERT_TRUE(parsed);
  const JsonValue* handle = parsed->child(u"data")->child(u"handleProvider");
  ASSERT_TRUE(handle != nullptr && handle->isNumber());
  EXPECT_NE(handle->asNumber(), 1.0);
  std::u16string close = u"{\"data\":{\"requestAction\":\"closeCryptoProvider\",\"handleProvider\":" +
                         wide(std::to_string(static_cast<std::uint32_t>(handle->asNumber()))) + u"}}";
  EXPECT_NE(processingMessage(close).find(u"\"result\":\"success\""), std::u16string::npos);
}

TEST_F(ProcessingMessageTest, StagedFileIsRemovedWhateverTheOutcome) {
  for (const char16_t* container : {u"C1", u"sign-fails", u"missing-key"}) {
    std::u16string request = u"{\"data\":{\"requestAction\":\"getSignature\",\"containerName\":\"" +
                             std::u16string(container) + u"\",\"workingDirectory\":\"" +
                             dir_.widePath() + u"/work\",\"contentFile\":\"aGVsbG8=\"}}";
    std::u16string answer = processingMessage(request);
    EXPECT_NE(answer.find(u"\"result\""), std::u16string::npos);
    EXPECT_TRUE(dir_.entries("work").empty()) << narrow(container);
  }
}

TEST_F(ProcessingMessageTest, GivenFileIsNeverRemoved) {
  std::string path = dir_.path() + "/given.bin";
  std::ofstream(path) << "hello";
  std::u16string answer = processingMessage(
      u"{\"data\":{\"requestAction\":\"getSignature\",\"fileDataPath\":\"" + wide(path) +
      u"\",\"contentFile\":\"QUJD\"}}");
  EXPECT_NE(answer.find(u"\"result\":\"success\""), std::u16string::npos);
  EXPECT_NE(answer.find(u"\"fileDataPath\""), std::u16string::npos);
  EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"calls.log", "given.bin"}));
}

TEST_F(ProcessingMessageTest, TooLargeAnswerIsReplacedByOneThatFits) {
  std::u16string big(kMaxAnswerBytes, u'a');
  std::u16string request =
      u"{\"contentId\":\"9\",\"data\":{\"requestAction\":\"nothing\",\"x\":\"" + big + u"\"}}";
  std::u16string full = u"{\"contentId\":\"9\",\"data\":{\"description\":\"Unknow request action "
                        u"nothing\",\"requestAction\":\"nothing\",\"result\":\"error\",\"x\":\"" +
                        big + u"\"}}";
  std::u16string expected = u"{\"contentId\":\"9\",\"data\":{\"description\":\"Answer too large: " +
                            wide(std::to_string(full.size())) +
                            u" bytes exceed the browser's limit of 1048576 bytes\","
                            u"\"requestAction\":\"nothing\",\"result\":\"error\"}}";
  EXPECT_EQ(narrow(processingMessage(request)), narrow(expected));
}

TEST_F(ProcessingMessageTest, TooLargeAnswerRepeatsOnlyAStringAction) {
  struct Case {
    const char* name;
    std::u16string action;  // the member as JSON text, or empty for none
    std::u16string repeated;
  };
  const Case cases[] = {
      {"string action", u"\"requestAction\":\"x\",", u"\"requestAction\":\"x\","},
      {"empty string action", u"\"requestAction\":\"\",", u"\"requestAction\":\"\","},
      {"numeric action", u"\"requestAction\":5,", u""},
      {"no action", u"", u""},
  };
  std::u16string big(kMaxAnswerBytes, u'a');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string answer =
        processingMessage(u"{\"data\":{" + c.action + u"\"x\":\"" + big + u"\"}}");
    auto parsed = JsonValue::parse(answer.c_str());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->child(u"data")->child(u"result")->asString(), u"error");
    EXPECT_EQ(answer.find(u"\"requestAction\"") != std::u16string::npos, !c.repeated.empty());
    if (!c.repeated.empty()) {
      EXPECT_NE(answer.find(c.repeated), std::u16string::npos);
    }
  }
}

}  // namespace
