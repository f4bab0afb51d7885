// The built host run as a browser runs it: each row's frames, exact answers,
// the double's call record and the files left; also under Wine.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/process/host_process.h"

namespace {

struct Row {
  const char* name;
  // Frame bodies sent in order; $T: the temporary directory, $W: its Windows form.
  // Rows named "Parts..." send each once the one before is answered: "$S" is
  // the staged name the answers last gave, "$Z<n>" Base64 of n zeros.
  std::vector<std::string> requests;
  std::vector<std::string> answers;  // "*": any answer; "$N": a new staged name
  // Library calls without "AvCm", AvCmInit with its flag ("Init1"), then the
  // exit line of a record not left clean; "*": not checked.
  std::string calls;
  // Left in $T besides the record, locks and given.bin; $H, the host's folder
  // there, is not under Wine, so such rows run on Linux only.
  std::string files = "";
  Environment environment = {};  // for the host
  std::string raw = "";          // bytes sent after the frames
};
// Rows named "Windows..." (drives, backslashes, devices) run under Wine only.
bool runsHere(const Row& row) {
  if (hostIsLaunched()) return row.files.find("$H") == std::string::npos;
  return std::string(row.name).rfind("Windows", 0) != 0;
}

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

const std::string kCert = R"({"data":{"requestAction":"getCertificate","containerName":"C1"}})";
const char kCertAnswer[] =
    R"({"data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1","requestAction":"getCertificate",)"
    R"("result":"success"}})";
const char kCertCalls[] =
    "Init1 Login GetObjectInfo GetCertAttr GetCertAttr CloseHandle Logout Init2";
const char kSignCalls[] = "Init1 Login OpenMsg MsgSign GetMsg GetMsg CloseHandle Logout Init2";
const char kSignFails[] = "Init1 Login OpenMsg MsgSign GetErrorInfo CloseHandle Logout Init2";
const char kNoData[] = R"("description":"Bad parameter fileData in action getSignature",)";
const char kFails[] = u8R"("description":"Ошибка подписи: ключ недоступен",)";
const std::string kGiven("given\r\n\x1a\0data", 13);  // $T/given.bin, never changed or removed
const std::string kBinary("\0\x1a\r\n\xff", 5);
const std::size_t kLimit = 1048576;
const std::string kPad(kLimit, 'x');

std::string repeated(const std::string& calls, int times) {
  std::string text = calls;
  while (--times > 0) text += " " + calls;
  return text;
}

std::string signRequest(const std::string& container, const std::string& more) {
  return R"({"data":{"requestAction":"getSignature","containerName":")" + container + "\"" +
         (more.empty() ? "" : "," + more) + "}}";
}
// A signature answer: an error with `members` and `work`, or a success with
// `signature` (then `members` come first, `work` last).
std::string signAnswer(const std::string& container, const std::string& members,
                       const std::string& work = "", const std::string& signature = "") {
  return R"({"data":{"containerName":")" + container + "\"," + members +
         R"("requestAction":"getSignature","result":")" +
         (signature.empty() ? "error\"" : "success\",\"signature\":\"" + signature + "\"") +
         (work.empty() ? "" : R"(,"workingDirectory":")" + work + "\"") + "}}";
}

std::string replaced(std::string text, const std::string& mark, const std::string& by) {
  for (std::size_t at = text.find(mark); at != std::string::npos;
       at = text.find(mark, at + by.size())) {
    text.replace(at, mark.size(), by);
  }
  return text;
}

std::string withZeros(std::string text) {
  const std::size_t at = text.find("$Z");
  if (at == std::string::npos) return text;
  std::size_t digits = 0;
  const std::size_t count = std::stoul(text.substr(at + 2), &digits);
  const char* const tails[] = {"", "AA==", "AAA="};
  return text.replace(at, 2 + digits, std::string(count / 3 * 4, 'A') + tails[count % 3]);
}

bool isStagedName(const std::string& name) {
  return std::regex_match(name, std::regex("[0-9A-Za-z]{16}"));
}

HostRun runStaged(const std::vector<std::string>& requests, const Environment& environment) {
  HostRun run;
  HostProcess host(environment);
  std::string name;
  for (const std::string& request : requests) {
    std::optional<std::string> answer;
    if (host.writeFrame(withZeros(replaced(request, "$S", name)))) answer = host.readFrame();
    if (!answer) break;
    const std::string given = dataString(*answer, u"stagedContent").value_or("");
    if (isStagedName(given)) name = given;
    run.answers.push_back(*answer);
  }
  host.closeInput();
  run.exitCode = host.waitForExit();
  run.rest = host.unread();
  run.errors = host.errorOutput();
  return run;
}

std::string stageRequest(const std::string& members) {
  return R"({"data":{"requestAction":"stageContent",)" + members + "}}";
}
const std::string kFirstPart = R"("workingDirectory":"$T/work","contentFile":)";
std::string stagedAnswer(std::uint64_t bytes, const std::string& name, bool first = false) {
  return R"({"data":{"requestAction":"stageContent","result":"success","stagedBytes":)" +
         std::to_string(bytes) + R"(,"stagedContent":")" + name +
         (first ? R"(","workingDirectory":"$T\/work"}})" : "\"}}");
}
std::string stagedError(const std::string& description, const std::string& name,
                        const char* action = "stageContent") {
  return std::string("{\"data\":{") + (action[0] == 'g' ? R"("containerName":"C1",)" : "") +
         R"("description":")" + description + R"(","requestAction":")" + action +
         R"(","result":"error","stagedContent":")" + name + "\"}}";
}
const char kUnknown[] = "Unknown or already used stagedContent";
const char kBadBase64[] =
    "Bad Base64 in contentFile: a part must be whole 4-character groups, padded only at its end";

std::string tooLarge(std::size_t bytes) {
  return "Answer too large: " + std::to_string(bytes) +
         " bytes exceed the browser's limit of 1048576 bytes";
}
// A getCertificate request whose answer is `bytes` long in UTF-8 (a "pad" of
// two-byte characters keeps its UTF-16 length far below), or that answer.
std::string padded(std::size_t bytes, bool request) {
  const std::string head = R"({"contentId":"big","data":{)";
  const std::string answer = R"("certificate":"Q0VSVDpDMQ==","containerName":"C1","pad":"%",)"
                             R"("requestAction":"getCertificate","result":"success"}})";
  std::string pad;
  for (int i = 0; i < 300000; ++i) pad += u8"Ж";
  pad += std::string(bytes + 1 - head.size() - answer.size() - pad.size(), 'x');
  if (request) {
    return head + R"("requestAction":"getCertificate","containerName":"C1","pad":")" + pad + "\"}}";
  }
  if (bytes <= kLimit) return head + replaced(answer, "%", pad);
  return head + R"("description":")" + tooLarge(bytes) +
         R"(","requestAction":"getCertificate","result":"error"}})";
}

const Row kRows[] = {
    {"CertificatesEachInTheirOwnSession",
     {R"({"contentId":"42","data":{"requestAction":"getCertificate","containerName":"C1"}})",
      R"({"contentId":42,"data":{"requestAction":"getCertificate"}})",
      R"({"contentId":"","data":{"requestAction":"getCertificate","containerName":"C1",)"
      R"("result":"x","signature":"x","contentFile":"aGVsbG8=","other":[1,{"a":null}],)"
      R"("flag":true,"n":-2.5}})",
      R"({"data":{"requestAction":"getCertificate","containerName":"empty-cert"}})"},
     {R"({"contentId":"42","data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
      R"("requestAction":"getCertificate","result":"success"}})",
      R"({"data":{"certificate":"Q0VSVDpkZWZhdWx0","requestAction":"getCertificate",)"
      R"("result":"success"}})",
      R"({"data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1","flag":true,"n":-2.5,)"
      R"("other":[1,{"a":null}],"requestAction":"getCertificate","result":"success","signature":"x"}})",
      R"({"data":{"containerName":"empty-cert","requestAction":"getCertificate","result":"success"}})"},
     repeated(kCertCalls, 4)},
    {"UnknownActionsAndBadParameters",
     {R"({"data":{"requestAction":"opencryptoprovider","containerName":"C1"}})",
      R"({"data":{"requestAction":""}})", R"({"contentId":"7"})",
      R"({"data":[{"requestAction":"getCertificate"}]})",
      R"({"requestAction":"getCertificate","data":{}})",
      R"({"data":{"requestAction":"closeCryptoProvider","handleProvider":"4097"}})",
      signRequest("C1", R"("contentFile":"aGVsbG8=","workingDirectory":"$T/none/work")")},
     {R"({"data":{"containerName":"C1","description":"Unknow request action opencryptoprovider",)"
      R"("requestAction":"opencryptoprovider","result":"error"}})",
      R"({"data":{"description":"Unknow request action ","requestAction":"","result":"error"}})",
      R"({"contentId":"7","data":{"description":"Unknow request action ","result":"error"}})",
      R"({"data":{"description":"Unknow request action ","result":"error"}})",
      R"({"data":{"description":"Unknow request action ","result":"error"}})",
      R"({"data":{"description":"Bad parameter handleProvider in action closeCryptoProvider",)"
      R"("handleProvider":"4097","requestAction":"closeCryptoProvider","result":"error"}})",
      signAnswer("C1", kNoData, R"($T\/none\/work)")},
     ""},
    {"MissingContainer",
     {R"({"contentId":"7","data":{"requestAction":"openCryptoProvider","containerName":"missing-key"}})",
      R"({"data":{"requestAction":"getCertificate","containerName":"missing-key"}})",
      R"({"data":{"requestAction":"getCertificate","containerName":"C1","handleProvider":17}})"},
     {R"({"contentId":"7","data":{"containerName":"missing-key","description":"Key container not found",)"
      R"("requestAction":"openCryptoProvider","result":"error"}})",
      R"({"data":{"containerName":"missing-key","description":"Key container not found",)"
      R"("requestAction":"getCertificate","result":"error"}})",
      R"({"data":{"containerName":"C1","description":"Invalid handle","handleProvider":17,)"
      R"("requestAction":"getCertificate","result":"error"}})"},
     "Init1 Login GetErrorInfo Init1 Login GetErrorInfo GetObjectInfo GetErrorInfo exit startups=2 "
     "sessions=0 messages=0 certificates=0"},
    {"SessionFromOpenToClose",
     {R"({"contentId":"7","data":{"requestAction":"openCryptoProvider","containerName":"C1","handleProvider":1}})",
      R"({"data":{"requestAction":"getCertificate","containerName":"C1","handleProvider":4097}})",
      R"({"data":{"requestAction":"getSignature","handleProvider":4097,"contentFile":"aGVsbG8=",)"
      R"("workingDirectory":"$T/work"}})",
      R"({"data":{"requestAction":"getSignature","handleProvider":4097,"fileDataPath":"$T/given.bin"}})",
      R"({"data":{"requestAction":"closeCryptoProvider","handleProvider":4097}})",
      R"({"data":{"requestAction":"getCertificate","handleProvider":4097}})",
      R"({"data":{"requestAction":"openCryptoProvider","containerName":"C1"}})"},
     {R"({"contentId":"7","data":{"containerName":"C1","handleProvider":4097,)"
      R"("requestAction":"openCryptoProvider","result":"success"}})",
      R"({"data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1","handleProvider":4097,)"
      R"("requestAction":"getCertificate","result":"success"}})",
      R"({"data":{"handleProvider":4097,"requestAction":"getSignature","result":"success","signature":")" +
          signatureOf("C1", "hello") + R"(","workingDirectory":"$T\/work"}})",
      R"({"data":{"fileDataPath":"$T\/given.bin","handleProvider":4097,"requestAction":"getSignature",)"
      R"("result":"success","signature":")" +
          signatureOf("C1", kGiven) + R"("}})",
      R"({"data":{"handleProvider":4097,"requestAction":"closeCryptoProvider","result":"success"}})",
      R"({"data":{"description":"Invalid handle","handleProvider":4097,"requestAction":"getCertificate",)"
      R"("result":"error"}})",
      R"({"data":{"containerName":"C1","handleProvider":4098,"requestAction":"openCryptoProvider",)"
      R"("result":"success"}})"},
     "Init1 Login GetObjectInfo GetCertAttr GetCertAttr CloseHandle OpenMsg MsgSign GetMsg GetMsg "
     "CloseHandle OpenMsg MsgSign GetMsg GetMsg CloseHandle Logout Init2 GetObjectInfo "
     "GetErrorInfo Init1 Login exit startups=1 sessions=1 messages=0 certificates=0",
     "work/"},
    // Frames: an empty body is a zero length, which ends the input.
    {"InputEndingInsideTheLength", {}, {}, "", "", {}, std::string("\x03\x00", 2)},
    {"LengthOf4GiBAndTheInputEnds", {}, {}, "", "", {}, lengthBytes(~0u) + kCert},
    // Bodies that get no answer, each followed by one that does.
    {"UnansweredBodies",
     {R"({"data":)", kCert, kCert + "x", kCert, R"([{"data":{"requestAction":"getCertificate"}}])",
      kCert, "\xEF\xBB\xBF" + kCert, kCert, std::string("{\"data\":{}\0}", 12), kCert,
      "{\"contentId\":\"\xC0\x80\",\"data\":{}}", kCert,
      "{\"contentId\":\"\xED\xA0\x80\",\"data\":{}}", kCert, "{\"data\":{}} \xE2\x82", kCert},
     std::vector<std::string>(8, kCertAnswer),
     "*"},
    {"ChatterStaysOffTheAnswersAndZeroLengthEndsTheInput",
     {kCert, kCert, "", kCert},
     {kCertAnswer, kCertAnswer},
     repeated(kCertCalls, 2),
     "",
     {"AVCM_FAKE_STDOUT=vendor chatter"}},
    // Rows named "Unheard...": the browser stopped listening; all is still served.
    {"UnheardRequestsAreServedToTheEnd",
     {kCert, signRequest("C1", R"("contentFile":"aGVsbG8=","workingDirectory":"$T/work")"), kCert},
     {},
     std::string(kCertCalls) + " " + kSignCalls + " " + kCertCalls,
     "work/"},
    // The length prefix counts UTF-8 bytes; answers keep the requests' order.
    {"AnswerLengthsAndTheBrowserLimit",
     {u8R"({"contentId":"Ж€😀","data":{"requestAction":"getCertificate","containerName":"C1",)"
      u8R"("note":"жук \u0416"}})",
      R"({"data":{"requestAction":"getCertificate","containerName":"C2"}})", padded(kLimit, true),
      padded(kLimit + 1, true),
      R"({"contentId":"c","data":{"requestAction":7,"pad":")" + kPad + R"("}})", kCert},
     {u8R"({"contentId":"Ж€😀","data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
      u8R"("note":"жук Ж","requestAction":"getCertificate","result":"success"}})",
      R"({"data":{"certificate":"Q0VSVDpDMg==","containerName":"C2","requestAction":"getCertificate",)"
      R"("result":"success"}})",
      padded(kLimit, false), padded(kLimit + 1, false),
      R"({"contentId":"c","data":{"description":")" + tooLarge(kLimit + 109) +
          R"(","result":"error"}})",
      kCertAnswer},
     "*"},
    // Data files: staged in the working directory and removed whatever the outcome.
    {"StagedAndSignedAlsoWhenTheAnswerIsTooLarge",
     {signRequest("C1", R"("contentFile":"aGVsbG8=","workingDirectory":"$T/work/")"),
      signRequest(
          "C1", R"("contentFile":"aGVsbG8=","workingDirectory":"$T/work","pad":")" + kPad + "\"")},
     {signAnswer("C1", "", R"($T\/work\/)", signatureOf("C1", "hello")), "*"},
     repeated(kSignCalls, 2),
     "work/"},
    {"GivenFileWinsAndStagedFilesGoUnsigned",
     {signRequest(
          "C1",
          R"("fileDataPath":"$T/given.bin","contentFile":"aGVsbG8=","workingDirectory":"$T/work")"),
      signRequest("sign-fails", R"("fileDataPath":"$T/given.bin")"),
      signRequest("sign-fails", R"("contentFile":"aGVsbG8=","workingDirectory":"$T/work/")"),
      signRequest("missing-key", R"("contentFile":"aGVsbG8=","workingDirectory":"$T/work")")},
     {signAnswer("C1", R"("fileDataPath":"$T\/given.bin",)", R"($T\/work)",
                 signatureOf("C1", kGiven)),
      signAnswer("sign-fails", kFails + std::string(R"("fileDataPath":"$T\/given.bin",)")),
      signAnswer("sign-fails", kFails, R"($T\/work\/)"),
      signAnswer("missing-key", R"("description":"Key container not found",)", R"($T\/work)")},
     std::string(kSignCalls) + " " + repeated(kSignFails, 2) +
         " Init1 Login GetErrorInfo exit startups=1 sessions=0 messages=0 certificates=0",
     "work/"},
    // Staged in parts, each part answered before the next goes.
    {"PartsInOrderSignedOnceDiscardedOrLeftAtTheEnd",
     {stageRequest(kFirstPart + R"("aGVs")"),
      stageRequest(R"("contentFile":"bG8=","stagedContent":"$S")"),
      signRequest("C1", R"("stagedContent":"$S")"), signRequest("C1", R"("stagedContent":"$S")"),
      stageRequest(kFirstPart + R"("aGVs")"),
      stageRequest(R"("stagedContent":"$S","discard":true)"),
      stageRequest(R"("contentFile":"aGVs","stagedContent":"$S")"),
      stageRequest(kFirstPart + R"("aGVs")")},
     {stagedAnswer(3, "$N", true), stagedAnswer(5, "$S"),
      R"({"data":{"containerName":"C1","requestAction":"getSignature","result":"success",)"
      R"("signature":")" +
          signatureOf("C1", "hello") + R"(","stagedContent":"$S"}})",
      stagedError(kUnknown, "$S", "getSignature"), stagedAnswer(3, "$N", true),
      R"({"data":{"discard":true,"requestAction":"stageContent","result":"success",)"
      R"("stagedBytes":0,"stagedContent":"$S"}})",
      stagedError(kUnknown, "$S"), stagedAnswer(3, "$N", true)},
     kSignCalls,
     "work/"},
    {"PartsThatFailAreRemoved",
     {stageRequest(kFirstPart + R"("aGVs")"),
      stageRequest(R"("contentFile":"a!Vs","stagedContent":"$S")"),
      stageRequest(R"("contentFile":"bG8=","stagedContent":"$S")"),
      stageRequest(kFirstPart + R"("aGk=")"),
      stageRequest(R"("contentFile":"aGVs","stagedContent":"$S")"),
      stageRequest(kFirstPart + R"("aGVs")"),
      signRequest("C1", R"("stagedContent":"$S","contentFile":"aGVsbG8=")"),
      signRequest("C1", R"("stagedContent":"$S")"),
      stageRequest(R"("contentFile":"aGVs","stagedContent":"unknown")"),
      stageRequest(R"("contentFile":"aGVsb")")},
     {stagedAnswer(3, "$N", true), stagedError(kBadBase64, "$S"), stagedError(kUnknown, "$S"),
      stagedAnswer(2, "$N", true),
      stagedError("Content part does not follow on: a padded part ended the content", "$S"),
      stagedAnswer(3, "$N", true),
      stagedError("Bad parameter stagedContent in action getSignature: fileDataPath or "
                  "contentFile given too",
                  "$S", "getSignature"),
      stagedError(kUnknown, "$S", "getSignature"), stagedError(kUnknown, "unknown"),
      R"({"data":{"description":")" + std::string(kBadBase64) +
          R"(","requestAction":"stageContent","result":"error"}})"},
     "",
     "work/"},
    // A runtime folder that does not exist is passed over for TMPDIR.
    {"StagedInTheDefaultDirectory",
     {signRequest("C1", ""), signRequest("C1", R"("contentFile":" aGVsbG8=")"),
      signRequest("C1", R"("contentFile":"aGVsbG8=")")},
     {signAnswer("C1", kNoData), signAnswer("C1", kNoData),
      signAnswer("C1", "", "", signatureOf("C1", "hello"))},
     kSignCalls,
     "$H/vorna_data_signed/",
     {"XDG_RUNTIME_DIR=/nonexistent-quorvant-runtime"}},
    {"WindowsPathsWithDriveAndBackslashes",
     {signRequest("C1",
                  R"("contentFile":")" + toBase64(kBinary) + R"(","workingDirectory":"$W\\work")"),
      signRequest("C1", R"("contentFile":"aGVsbG8=","workingDirectory":"$W\\work\\")"),
      signRequest("C1", R"("fileDataPath":"$W\\given.bin")")},
     {signAnswer("C1", "", R"($W\\work)", signatureOf("C1", kBinary)),
      signAnswer("C1", "", R"($W\\work\\)", signatureOf("C1", "hello")),
      signAnswer("C1", R"("fileDataPath":"$W\\given.bin",)", "", signatureOf("C1", kGiven))},
     repeated(kSignCalls, 3),
     "work/"},
    // Console, null and pipe names open on Windows but are no data file (COM1
    // is left out: Wine maps it to a real serial device).
    {"WindowsDeviceAndPipeNamesAreRefused",
     {signRequest("C1", R"("fileDataPath":"CON")"), signRequest("C1", R"("fileDataPath":"NUL")"),
      signRequest("C1", R"("fileDataPath":"\\\\.\\pipe\\quorvant-test")")},
     {signAnswer("C1", R"("description":"Error open file data","fileDataPath":"CON",)"),
      signAnswer("C1", R"("description":"Error open file data","fileDataPath":"NUL",)"),
      signAnswer(
          "C1",
          R"("description":"Error open file data","fileDataPath":"\\\\.\\pipe\\quorvant-test",)")},
     "*"},
};

// Parts of 48 MiB (64 MiB frames) up to the staging limit, then 3 bytes more.
Row limitRow() {
  Row row{"PartsUpToTheLimitAndNoFurther", {}, {}, "", "work/"};
  const std::uint64_t part = 48 << 20, limit = 512 << 20;
  for (std::uint64_t staged = 0; staged < limit;) {
    const std::uint64_t size = std::min(part, limit - staged);
    const std::string content = "\"$Z" + std::to_string(size) + "\"";
    row.requests.push_back(stageRequest(
        staged == 0 ? kFirstPart + content : R"("stagedContent":"$S","contentFile":)" + content));
    row.answers.push_back(stagedAnswer(staged + size, staged == 0 ? "$N" : "$S", staged == 0));
    staged += size;
  }
  row.requests.push_back(stageRequest(R"("contentFile":"AAAA","stagedContent":"$S")"));
  row.answers.push_back(stagedError(
      "Content too large: a staged file holds at most " + std::to_string(limit) + " bytes", "$S"));
  return row;
}

std::vector<Row> allRows() {
  std::vector<Row> rows(std::begin(kRows), std::end(kRows));
  rows.push_back(limitRow());
  return rows;
}

class HostRows : public HostTest, public ::testing::WithParamInterface<Row> {
 protected:
  // $T and $W (drive Z: is the root under Wine) written for JSON.
  std::string withTemp(const std::string& text) const {
    return replaced(replaced(text, "$T", tempPath()), "$W",
                    "Z:" + replaced(tempPath(), "/", "\\\\"));
  }
  std::string calls() const {
    std::string text;
    for (const std::string& call : recordedCalls(recordPath())) {
      if (call != "exit startups=0 sessions=0 messages=0 certificates=0") {
        text +=
            (text.empty() ? "" : " ") + (call[0] == 'A' ? replaced(call.substr(4), " ", "") : call);
      }
    }
    return text;
  }
  std::string files() const {
    std::string text;
    for (const std::string& entry : temp_.entries()) {
      const std::string name = replaced(entry, temp_.hostFolder(), "$H");
      if (name.find(".lock") == std::string::npos && name != "$H/" && name != "calls.log" &&
          name != "given.bin") {
        text += (text.empty() ? "" : " ") + name;
      }
    }
    return text;
  }
};

TEST_P(HostRows, AnswersCallsAndFiles) {
  const Row& row = GetParam();
  if (!runsHere(row)) GTEST_SKIP();
  writeFile(tempPath() + "/given.bin", kGiven);
  const bool staged = std::string(row.name).rfind("Parts", 0) == 0;
  std::vector<std::string> requests;
  std::string input;
  for (const std::string& request : row.requests) {
    requests.push_back(withTemp(request));
    input += frame(requests.back());
  }
  const bool deaf = std::string(row.name).rfind("Unheard", 0) == 0;
  const HostRun run = staged ? runStaged(requests, environment(row.environment))
                             : runHost(input + row.raw, environment(row.environment), deaf);
  EXPECT_EQ(0, run.exitCode) << run.errors;
  EXPECT_EQ("", run.rest);
  ASSERT_EQ(row.answers.size(), run.answers.size()) << run.errors;
  std::string name;  // the staged name the answers last gave
  for (std::size_t i = 0; i < row.answers.size(); ++i) {
    std::string expected =
        replaced(withTemp(row.answers[i]), tempPath(), replaced(tempPath(), "/", "\\/"));
    const std::string given =
        staged ? dataString(run.answers[i], u"stagedContent").value_or("") : "";
    EXPECT_TRUE(expected.find("$N") == std::string::npos || name != given) << "not a new name";
    if (isStagedName(given)) name = given;
    expected = replaced(replaced(expected, "$N", name), "$S", name);
    EXPECT_TRUE(expected == "*" || expected == run.answers[i])
        << "answer " << i << "\n  expected: " << expected.substr(0, 400)
        << "\n  actual:   " << run.answers[i].substr(0, 400);
  }
  EXPECT_TRUE(row.calls == "*" || row.calls == calls()) << calls();
  EXPECT_TRUE(row.files == "*" || row.files == files()) << files();
  std::ifstream given(tempPath() + "/given.bin", std::ios::binary);
  EXPECT_EQ(kGiven, std::string(std::istreambuf_iterator<char>(given), {}));
}

INSTANTIATE_TEST_SUITE_P(Host, HostRows, ::testing::ValuesIn(allRows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

using HostStreams = HostTest;

// Streamed in chunks: the test never holds the oversized body, nor may the host.
TEST_F(HostStreams, FrameOverTheLimitIsSkippedAndTheNextServed) {
  HostProcess host(environment());
  bool written = false;
  std::thread writer([&host, &written] {
    const std::string mebibyte(1024 * 1024, '{');
    bool ok = host.write(lengthBytes((256u << 20) + 1));
    for (int i = 0; ok && i < 256; ++i) ok = host.write(mebibyte);
    written = ok && host.write("{") && host.writeFrame(kCert);
  });
  std::optional<std::string> answer = host.readFrame();
  if (!answer) host.waitForExit();  // kills a stuck host, which ends the writer
  writer.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(kCertAnswer, answer.value_or("<no answer>"));
  const long peakKiB = host.memoryKiB();
  EXPECT_TRUE(peakKiB > 0 && peakKiB < 128 * 1024) << peakKiB;
  host.closeInput();
  EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
}

// Another user holds lock files of the old names in the shared base and owns
// a folder of this host's name there: the host neither waits nor writes into it.
TEST_F(HostStreams, AnotherUsersLockAndFolderNeitherBlockNorReceive) {
  if (hostIsLaunched() || ::geteuid() != 0) GTEST_SKIP() << "needs a second user";
  ASSERT_EQ(0, ::chmod(tempPath().c_str(), 01777));
  const std::string folder = temp_.hostPath();  // named after this user, not the other
  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  const pid_t other = ::fork();
  if (other == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(1);
    for (const char* name : {"quorvantCreateLogNameLock", "quorvantCreateDataFileLock"}) {
      int fd = ::open((tempPath() + "/" + name + ".lock").c_str(), O_RDWR | O_CREAT, 0666);
      if (fd < 0 || ::flock(fd, LOCK_EX) != 0) _exit(1);
    }
    if (::mkdir(folder.c_str(), 0777) != 0 || ::write(ready[1], "x", 1) != 1) _exit(1);
    ::pause();
  }
  char byte = 0;
  ASSERT_EQ(1, ::read(ready[0], &byte, 1));
  const HostRun run =
      runHost(frame(signRequest("C1", R"("contentFile":"ZGF0YQ==")")), environment());
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  EXPECT_EQ(std::vector<std::string>{signAnswer("C1", kNoData)}, run.answers);
  EXPECT_EQ(std::vector<std::string>{}, temp_.entries(temp_.hostFolder()));
}

// The log name is drawn under one named mutex at start-up, every data file
// under the other; a holder of either (named_mutex_holder.exe, in the same
// Wine prefix) stops the host there, a holder of another name does not.
TEST_F(HostStreams, WindowsHostWaitsForTheHolderOfItsMutex) {
  if (!hostIsLaunched()) GTEST_SKIP() << "Windows host under Wine only";
  const std::string sign = signRequest(
      "C1", R"("contentFile":"aGVsbG8=","workingDirectory":")" + tempPath() + "/work\"");
  const struct {
    const char* lock;
    std::string request;
    bool blocks;
  } cases[] = {{"quorvantCreateDataFileLock", sign, true},
               {"quorvantCreateLogNameLock", kCert, true},
               {"quorvantCreateDataFileLock", kCert, false},
               {"quorvantSomeOtherLock", sign, false}};
  const std::string holderPath =
      hostPath().substr(0, hostPath().rfind('/')) + "/named_mutex_holder.exe";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.lock) + (c.blocks ? " blocks" : " does not block"));
    HostProcess holder(environment(), holderPath);
    ASSERT_TRUE(holder.write(std::string(c.lock) + "\n"));
    ASSERT_EQ("held", holder.readFrame().value_or("<nothing>"));
    HostProcess host(environment());
    ASSERT_TRUE(host.writeFrame(c.request));
    std::atomic<bool> answered{false};
    std::optional<std::string> answer;
    std::thread reader([&] {
      answer = host.readFrame();
      answered = true;
    });
    if (c.blocks) {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      EXPECT_FALSE(answered) << "answered while the mutex was held";
    }
    holder.closeInput();
    reader.join();
    EXPECT_EQ("success", dataString(answer.value_or(""), u"result").value_or("<no answer>"));
    host.closeInput();
    EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
    EXPECT_EQ(0, holder.waitForExit());
  }
}

// GetTempPathW under Wine gives the Wine user's temporary folder whatever
// TMPDIR says; the stage script passes its place on this machine.
TEST_F(HostStreams, WindowsDefaultDataDirectoryIsInTheUsersTemporaryFolder) {
  if (!hostIsLaunched()) GTEST_SKIP() << "Windows host under Wine only";
  const char* wineTemp = std::getenv("QUORVANT_WINE_TEMP");
  ASSERT_TRUE(wineTemp != nullptr && *wineTemp != '\0') << "QUORVANT_WINE_TEMP is not set";
  const HostRun run =
      runHost(frame(signRequest("C1", R"("contentFile":"aGVsbG8=")")), environment());
  EXPECT_EQ(std::vector<std::string>{signAnswer("C1", "", "", signatureOf("C1", "hello"))},
            run.answers)
      << run.errors;
  const std::regex logName("Quorvant_[0-9A-Za-z]{7}\\.log");
  for (const auto& entry : std::filesystem::directory_iterator(wineTemp)) {
    EXPECT_FALSE(std::regex_match(entry.path().filename().string(), logName)) << entry.path();
  }
  EXPECT_TRUE(std::filesystem::is_empty(std::string(wineTemp) + "/vorna_data_signed"));
  EXPECT_EQ(std::vector<std::string>{"calls.log"}, temp_.entries());
}

}  // namespace
