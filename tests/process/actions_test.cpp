#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "tests/process/host_process.h"

namespace {

struct ExactAnswer {
  const char* name;
  std::string faults;  // AVCM_FAKE_FAULTS, empty for none
  std::string request;
  std::string answer;
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const ExactAnswer& c, std::ostream* out) { *out << c.name; }

class ExactAnswerTest : public HostTest, public ::testing::WithParamInterface<ExactAnswer> {};

TEST_P(ExactAnswerTest, AnswerTextIsExact) {
  Environment extra;
  if (!GetParam().faults.empty()) extra.push_back("AVCM_FAKE_FAULTS=" + GetParam().faults);
  HostRun run = ask({GetParam().request}, extra);
  EXPECT_EQ(0, run.exitCode) << run.errors;
  EXPECT_EQ(std::vector<std::string>{GetParam().answer}, run.answers);
}

const char kClean[] = "exit startups=0 sessions=0 messages=0 certificates=0";
const char kStartupLeft[] = "exit startups=1 sessions=0 messages=0 certificates=0";
const char kCertificateC1[] =
    R"({"contentId":"42","data":{"requestAction":"getCertificate","containerName":"C1"}})";
const char kSignatureFileDataMissing[] =
    R"("description":"Bad parameter fileData in action getSignature",)";
const char kCloseHandleMissing[] =
    R"({"data":{"description":"Bad parameter handleProvider in action closeCryptoProvider",)";

// Answers to requests that need no open session of the browser's.
const ExactAnswer kExactAnswers[] = {
    {"CertificateWithoutHandle", "", kCertificateC1,
     R"({"contentId":"42","data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
     R"("requestAction":"getCertificate","result":"success"}})"},
    {"CertificateOfTheDefaultContainer", "", R"({"data":{"requestAction":"getCertificate"}})",
     R"({"data":{"certificate":"Q0VSVDpkZWZhdWx0","requestAction":"getCertificate",)"
     R"("result":"success"}})"},
    {"EchoedResultIsReplacedEchoedSignatureKept", "",
     R"({"contentId":"42","data":{"requestAction":"getCertificate",)"
     R"("containerName":"C1","result":"x","signature":"x"}})",
     R"({"contentId":"42","data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
     R"("requestAction":"getCertificate","result":"success","signature":"x"}})"},
    {"EmptyContentIdIsNotEchoed", "",
     R"({"contentId":"","data":{"requestAction":"getCertificate","containerName":"C1"}})",
     R"({"data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
     R"("requestAction":"getCertificate","result":"success"}})"},
    {"NumericContentIdIsNotEchoed", "",
     R"({"contentId":42,"data":{"requestAction":"getCertificate","containerName":"C1"}})",
     R"({"data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
     R"("requestAction":"getCertificate","result":"success"}})"},
    {"ContentFileIsNeverEchoedOtherMembersAre", "",
     R"({"data":{"requestAction":"getCertificate","containerName":"C1",)"
     R"("contentFile":"aGVsbG8=","other":[1,{"a":null}],"flag":true,"n":-2.5}})",
     R"({"data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1","flag":true,"n":-2.5,)"
     R"("other":[1,{"a":null}],"requestAction":"getCertificate","result":"success"}})"},
    {"EmptyCertificateIsLeftOut", "",
     R"({"data":{"requestAction":"getCertificate","containerName":"empty-cert"}})",
     R"({"data":{"containerName":"empty-cert","requestAction":"getCertificate",)"
     R"("result":"success"}})"},
    {"ActionInOtherCaseIsUnknown", "",
     R"({"data":{"requestAction":"opencryptoprovider","containerName":"C1"}})",
     R"({"data":{"containerName":"C1","description":"Unknow request action opencryptoprovider",)"
     R"("requestAction":"opencryptoprovider","result":"error"}})"},
    {"EmptyActionIsUnknown", "", R"({"data":{"requestAction":""}})",
     R"({"data":{"description":"Unknow request action ","requestAction":"","result":"error"}})"},
    {"MissingDataIsAnUnknownAction", "", R"({"contentId":"7"})",
     R"({"contentId":"7","data":{"description":"Unknow request action ","result":"error"}})"},
    {"DataArrayIsAnUnknownAction", "", R"({"data":[{"requestAction":"getCertificate"}]})",
     R"({"data":{"description":"Unknow request action ","result":"error"}})"},
    {"ActionAtTheRootIsIgnored", "", R"({"requestAction":"getCertificate","data":{}})",
     R"({"data":{"description":"Unknow request action ","result":"error"}})"},
    {"CloseWithoutHandle", "", R"({"data":{"requestAction":"closeCryptoProvider"}})",
     kCloseHandleMissing +
         std::string(R"("requestAction":"closeCryptoProvider","result":"error"}})")},
    {"CloseWithStringHandle", "",
     R"({"data":{"requestAction":"closeCryptoProvider","handleProvider":"4097"}})",
     kCloseHandleMissing +
         std::string(R"("handleProvider":"4097","requestAction":"closeCryptoProvider",)"
                     R"("result":"error"}})")},
    {"SignatureWithoutData", "",
     R"({"data":{"requestAction":"getSignature","containerName":"C1"}})",
     R"({"data":{"containerName":"C1",)" + std::string(kSignatureFileDataMissing) +
         R"("requestAction":"getSignature","result":"error"}})"},
    {"SignatureOfEmptyContent", "",
     R"({"data":{"requestAction":"getSignature","containerName":"C1","contentFile":""}})",
     R"({"data":{"containerName":"C1",)" + std::string(kSignatureFileDataMissing) +
         R"("requestAction":"getSignature","result":"error"}})"},
    {"SignatureOfContentDecodingToNothing", "",
     R"({"data":{"requestAction":"getSignature","containerName":"C1","contentFile":" aGVsbG8="}})",
     R"({"data":{"containerName":"C1",)" + std::string(kSignatureFileDataMissing) +
         R"("requestAction":"getSignature","result":"error"}})"},
    {"SignatureOfMissingFile", "",
     R"({"data":{"requestAction":"getSignature","containerName":"C1",)"
     R"("fileDataPath":"/nonexistent-quorvant/data.bin"}})",
     R"({"data":{"containerName":"C1","description":"Error open file data",)"
     R"("fileDataPath":"\/nonexistent-quorvant\/data.bin","requestAction":"getSignature",)"
     R"("result":"error"}})"},
    {"OpenOfMissingContainer", "",
     R"({"contentId":"7","data":{"requestAction":"openCryptoProvider",)"
     R"("containerName":"missing-key"}})",
     R"({"contentId":"7","data":{"containerName":"missing-key",)"
     R"("description":"Key container not found","requestAction":"openCryptoProvider",)"
     R"("result":"error"}})"},
    {"CertificateOfMissingContainer", "",
     R"({"data":{"requestAction":"getCertificate","containerName":"missing-key"}})",
     R"({"data":{"containerName":"missing-key","description":"Key container not found",)"
     R"("requestAction":"getCertificate","result":"error"}})"},
    {"SigningFailureHasTheLibrarysNonAsciiText", "",
     R"({"data":{"requestAction":"getSignature","containerName":"sign-fails",)"
     R"("contentFile":"aGVsbG8="}})",
     u8R"({"data":{"containerName":"sign-fails",)"
     u8R"("description":"Ошибка подписи: ключ недоступен",)"
     u8R"("requestAction":"getSignature","result":"error"}})"},
    {"UndescribableStatusIsUnknowError", "AvCmLogin=0x1FF",
     R"({"data":{"requestAction":"getCertificate","containerName":"C1"}})",
     R"({"data":{"containerName":"C1","description":"unknow error",)"
     R"("requestAction":"getCertificate","result":"error"}})"},
    {"CertificateOfNeverOpenedHandle", "",
     R"({"data":{"requestAction":"getCertificate","containerName":"C1","handleProvider":17}})",
     R"({"data":{"containerName":"C1","description":"Invalid handle","handleProvider":17,)"
     R"("requestAction":"getCertificate","result":"error"}})"},
};

INSTANTIATE_TEST_SUITE_P(HostActions, ExactAnswerTest, ::testing::ValuesIn(kExactAnswers),
                         [](const ::testing::TestParamInfo<ExactAnswer>& info) {
                           return info.param.name;
                         });

std::string withHandle(const std::string& text, std::uint32_t handle) {
  std::string result = text;
  const std::string mark = "HANDLE";
  for (std::size_t at = result.find(mark); at != std::string::npos; at = result.find(mark)) {
    result.replace(at, mark.size(), std::to_string(handle));
  }
  return result;
}

class HostSession : public HostTest {
 protected:
  // Sends one request (HANDLE replaced by the session's handle) and returns
  // its answer.
  std::string exchange(HostProcess& host, const std::string& request) {
    EXPECT_TRUE(host.writeFrame(withHandle(request, handle_)));
    return host.readFrame().value_or("<no answer>");
  }

  // Opens a session on C1 and keeps its handle. A handle in the request is
  // replaced by the new one.
  void openSession(HostProcess& host) {
    const std::string opened =
        exchange(host, R"({"contentId":"7","data":{"requestAction":"openCryptoProvider",)"
                       R"("containerName":"C1","handleProvider":1}})");
    std::unique_ptr<JsonValue> answer = parseAnswer(opened);
    const JsonValue* members = answer ? answer->child(u"data") : nullptr;
    const JsonValue* handle = members ? members->child(u"handleProvider") : nullptr;
    ASSERT_TRUE(handle != nullptr && handle->isNumber()) << opened;
    handle_ = static_cast<std::uint32_t>(handle->asNumber());
    EXPECT_NE(1u, handle_);
    EXPECT_EQ(withHandle(R"({"contentId":"7","data":{"containerName":"C1",)"
                         R"("handleProvider":HANDLE,"requestAction":"openCryptoProvider",)"
                         R"("result":"success"}})",
                         handle_),
              opened);
  }

  std::string signatureOf(HostProcess& host, const std::string& dataMembers) {
    const std::string answer =
        exchange(host, R"({"data":{"requestAction":"getSignature","handleProvider":HANDLE,)" +
                           dataMembers + "}}");
    return fromBase64(dataString(answer, u"signature").value_or("")).value_or("<bad Base64>");
  }

  std::string descriptionOf(HostProcess& host, const std::string& request) {
    return dataString(exchange(host, request), u"description").value_or("<no description>");
  }

  std::uint32_t handle_ = 0;
};

// A session the browser holds, from opening to use after closing.
TEST_F(HostSession, HandleTiesRequestsToTheSessionUntilClosed) {
  const std::string dataPath = tempPath() + "/data.txt";
  const std::string data = "file data\n\x01\xff";
  std::ofstream(dataPath, std::ios::binary) << data;
  HostProcess host(environment());
  ASSERT_TRUE(host.started());
  ASSERT_NO_FATAL_FAILURE(openSession(host));

  // The request's handle is echoed, not produced.
  EXPECT_EQ(withHandle(R"({"contentId":"42","data":{"certificate":"Q0VSVDpDMQ==",)"
                       R"("containerName":"C1","handleProvider":HANDLE,)"
                       R"("requestAction":"getCertificate","result":"success"}})",
                       handle_),
            exchange(host, R"({"contentId":"42","data":{"requestAction":"getCertificate",)"
                           R"("containerName":"C1","handleProvider":HANDLE}})"));
  EXPECT_EQ(signedMessage("C1", "hello"), signatureOf(host, R"("contentFile":"aGVsbG8=")"));
  EXPECT_EQ(signedMessage("C1", data), signatureOf(host, R"("fileDataPath":")" + dataPath + "\""));
  EXPECT_EQ(withHandle(R"({"data":{"handleProvider":HANDLE,)"
                       R"("requestAction":"closeCryptoProvider","result":"success"}})",
                       handle_),
            exchange(host, R"({"data":{"requestAction":"closeCryptoProvider",)"
                           R"("handleProvider":HANDLE}})"));

  // The closed handle is stale now.
  EXPECT_EQ("Invalid handle",
            descriptionOf(host, R"({"data":{"requestAction":"getCertificate",)"
                                R"("handleProvider":HANDLE}})"));
  EXPECT_EQ("Invalid handle",
            descriptionOf(host, R"({"data":{"requestAction":"getSignature",)"
                                R"("handleProvider":HANDLE,"contentFile":"aGVsbG8="}})"));

  host.closeInput();
  EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
  EXPECT_EQ(kClean, libraryExitLine(recordPath()));
}

TEST_F(HostSession, SessionLeftOpenStaysOpenAtExit) {
  HostRun run = ask({R"({"data":{"requestAction":"openCryptoProvider","containerName":"C1"}})"});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(1u, run.answers.size());
  EXPECT_EQ("success", dataString(run.answers[0], u"result").value_or(""));
  EXPECT_EQ("exit startups=1 sessions=1 messages=0 certificates=0", libraryExitLine(recordPath()));
}

struct CallOrder {
  const char* name;
  std::string faults;
  std::string request;
  std::vector<std::string> calls;  // AvCmGetErrorInfo lookups left out
  std::string exitLine;
};

void PrintTo(const CallOrder& c, std::ostream* out) { *out << c.name; }

class CallOrderTest : public HostTest, public ::testing::WithParamInterface<CallOrder> {};

TEST_P(CallOrderTest, LibraryIsCalledInOrderAndLeftClean) {
  Environment extra;
  if (!GetParam().faults.empty()) extra.push_back("AVCM_FAKE_FAULTS=" + GetParam().faults);
  HostRun run = ask({GetParam().request}, extra);
  EXPECT_EQ(0, run.exitCode) << run.errors;
  EXPECT_EQ(1u, run.answers.size());
  EXPECT_EQ(GetParam().calls, libraryCalls(recordPath()));
  EXPECT_EQ(GetParam().exitLine, libraryExitLine(recordPath()));
}

const std::vector<std::string> kCertificateCalls = {
    "AvCmInit 1",      "AvCmLogin",       "AvCmGetObjectInfo", "AvCmGetCertAttr",
    "AvCmGetCertAttr", "AvCmCloseHandle", "AvCmLogout",        "AvCmInit 2"};
const std::vector<std::string> kSignatureCalls = {
    "AvCmInit 1", "AvCmLogin",       "AvCmOpenMsg", "AvCmMsgSign", "AvCmGetMsg",
    "AvCmGetMsg", "AvCmCloseHandle", "AvCmLogout",  "AvCmInit 2"};

std::string signHello(const std::string& container) {
  return R"({"data":{"requestAction":"getSignature","containerName":")" + container +
         R"(","contentFile":"aGVsbG8="}})";
}

const CallOrder kCallOrders[] = {
    {"CertificateWithOwnSession", "", kCertificateC1, kCertificateCalls, kClean},
    {"CertificateWhoseSecondQueryFails", "AvCmGetCertAttr=0x107@2", kCertificateC1,
     kCertificateCalls, kClean},
    {"SignatureWithOwnSession", "", signHello("C1"), kSignatureCalls, kClean},
    {"SignatureWhoseSigningFails", "", signHello("sign-fails"),
     {"AvCmInit 1", "AvCmLogin", "AvCmOpenMsg", "AvCmMsgSign", "AvCmCloseHandle", "AvCmLogout",
      "AvCmInit 2"},
     kClean},
    {"SignatureWhoseSizeQueryFails", "AvCmGetMsg=0x108@1", signHello("C1"),
     {"AvCmInit 1", "AvCmLogin", "AvCmOpenMsg", "AvCmMsgSign", "AvCmGetMsg", "AvCmCloseHandle",
      "AvCmLogout", "AvCmInit 2"},
     kClean},
    {"SignatureWhoseMessageCannotOpen", "AvCmOpenMsg=0x109", signHello("C1"),
     {"AvCmInit 1", "AvCmLogin", "AvCmOpenMsg", "AvCmLogout", "AvCmInit 2"}, kClean},
    {"SignatureOfMissingFile", "",
     R"({"data":{"requestAction":"getSignature","containerName":"C1",)"
     R"("fileDataPath":"/nonexistent-quorvant"}})",
     {"AvCmInit 1", "AvCmLogin", "AvCmLogout", "AvCmInit 2"}, kClean},
    {"SignatureWithoutDataCallsNothing", "",
     R"({"data":{"requestAction":"getSignature","containerName":"C1"}})", {}, kClean},
    // A failed login is followed by no call: its start-up stays unmatched.
    {"OpenOfMissingContainer", "",
     R"({"data":{"requestAction":"openCryptoProvider","containerName":"missing-key"}})",
     {"AvCmInit 1", "AvCmLogin"}, kStartupLeft},
    {"CertificateOfMissingContainer", "",
     R"({"data":{"requestAction":"getCertificate","containerName":"missing-key"}})",
     {"AvCmInit 1", "AvCmLogin"}, kStartupLeft},
    {"SignatureOfMissingContainer", "", signHello("missing-key"), {"AvCmInit 1", "AvCmLogin"},
     kStartupLeft},
};

INSTANTIATE_TEST_SUITE_P(HostActions, CallOrderTest, ::testing::ValuesIn(kCallOrders),
                         [](const ::testing::TestParamInfo<CallOrder>& info) {
                           return info.param.name;
                         });

}  // namespace
