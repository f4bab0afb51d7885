#include "requests/processing_message.h"

#include <gtest/gtest.h>

#include "tests/support/fake_library.h"
#include "text/base64.h"

namespace {

class ProcessingMessageTest : public ::testing::Test {
 protected:
  TempDir dir_;
  FakeLibrary fake_{dir_};
};

TEST_F(ProcessingMessageTest, TooLargeAnswerRepeatsOnlyAStringAction) {
  struct Case {
    const char* name;
    std::u16string action;  // the member as JSON text, or empty for none
    std::u16string repeated;
  };
  const Case cases[] = {
      {"string action", u"\"requestAction\":\"x\",", u"\"requestAction\":\"x\","},
      {"numeric action", u"\"requestAction\":5,", u""},
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
