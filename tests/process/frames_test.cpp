#include <algorithm>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/process/host_process.h"

namespace {

const std::string kRequest =
    R"({"contentId":"ok","data":{"requestAction":"getCertificate","containerName":"C1"}})";
const std::string kAnswer =
    R"({"contentId":"ok","data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
    R"("requestAction":"getCertificate","result":"success"}})";

using HostFrames = HostTest;

struct QuietInput {
  const char* name;
  std::string input;
};

// Each input ends the host before any request reaches the library.
TEST_F(HostFrames, InputWithoutWholeRequestEndsQuietly) {
  const QuietInput cases[] = {
      {"empty input", ""},
      {"input ending after 03 00", std::string("\x03\x00", 2)},
      {"zero length", lengthBytes(0)},
      {"zero length before a request", lengthBytes(0) + frame(kRequest)},
      {"length of 4 GiB - 1 and the input ends", lengthBytes(0xFFFFFFFFu) + kRequest},
  };
  for (const QuietInput& c : cases) {
    SCOPED_TRACE(c.name);
    HostRun run = this->run(c.input);
    EXPECT_EQ(0, run.exitCode) << run.errors;
    EXPECT_TRUE(run.answers.empty());
    EXPECT_EQ("", run.rest);
    EXPECT_TRUE(libraryCalls(recordPath()).empty());
  }
}

TEST_F(HostFrames, ZeroLengthEndsTheHostBetweenRequests) {
  HostRun run = this->run(frame(kRequest) + lengthBytes(0) + frame(kRequest) + frame(kRequest));
  EXPECT_EQ(0, run.exitCode) << run.errors;
  EXPECT_EQ(std::vector<std::string>{kAnswer}, run.answers);
  EXPECT_EQ("", run.rest);
}

TEST_F(HostFrames, RequestsAreAnsweredInOrder) {
  HostRun run = ask({
      R"({"contentId":"1","data":{"requestAction":"getCertificate","containerName":"C1"}})",
      R"({"contentId":"2","data":{"requestAction":"getCertificate","containerName":"C2"}})",
  });
  EXPECT_EQ(0, run.exitCode) << run.errors;
  EXPECT_EQ((std::vector<std::string>{
                R"({"contentId":"1","data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
                R"("requestAction":"getCertificate","result":"success"}})",
                R"({"contentId":"2","data":{"certificate":"Q0VSVDpDMg==","containerName":"C2",)"
                R"("requestAction":"getCertificate","result":"success"}})",
            }),
            run.answers);
}

TEST_F(HostFrames, LengthPrefixCountsUtf8Bytes) {
  const std::string request =
      u8R"({"contentId":"Ж€😀","data":{"requestAction":"getCertificate","containerName":"C1",)"
      u8R"("note":"жук \u0416"}})";
  const std::string answer =
      u8R"({"contentId":"Ж€😀","data":{"certificate":"Q0VSVDpDMQ==","containerName":"C1",)"
      u8R"("note":"жук Ж","requestAction":"getCertificate","result":"success"}})";
  HostRun run = ask({request});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  // The split uses the prefix: one whole frame and nothing left over means
  // the prefix is the body's byte count.
  EXPECT_EQ(std::vector<std::string>{answer}, run.answers);
  EXPECT_EQ("", run.rest);
}

struct UnansweredBody {
  const char* name;
  std::string body;
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const UnansweredBody& c, std::ostream* out) { *out << c.name; }

class UnansweredBodyTest : public HostTest, public ::testing::WithParamInterface<UnansweredBody> {};

TEST_P(UnansweredBodyTest, GetsNoAnswerAndTheNextRequestIsServed) {
  HostRun run = this->run(frame(GetParam().body) + frame(kRequest));
  EXPECT_EQ(0, run.exitCode) << run.errors;
  EXPECT_EQ(std::vector<std::string>{kAnswer}, run.answers);
  EXPECT_EQ("", run.rest);
}

INSTANTIATE_TEST_SUITE_P(
    HostFrames, UnansweredBodyTest,
    ::testing::Values(
        UnansweredBody{"NotJson", R"({"data":)"},
        UnansweredBody{"TrailingText", kRequest + "x"},
        UnansweredBody{"JsonArray", R"([{"data":{"requestAction":"getCertificate"}}])"},
        UnansweredBody{"JsonString", R"("getCertificate")"},
        UnansweredBody{"OnlyWhitespace", " \t\r\n "},
        UnansweredBody{"ByteOrderMark", "\xEF\xBB\xBF" + kRequest},
        UnansweredBody{"ZeroByteBeforeTheEnd", std::string("{\"data\":{}\0}", 12)},
        UnansweredBody{"Utf8MissingContinuation", "{\"contentId\":\"\xC3\",\"data\":{}}"},
        UnansweredBody{"Utf8Overlong", "{\"contentId\":\"\xC0\x80\",\"data\":{}}"},
        UnansweredBody{"Utf8EncodedSurrogate", "{\"contentId\":\"\xED\xA0\x80\",\"data\":{}}"},
        UnansweredBody{"Utf8CutAtTheEnd", "{\"data\":{}} \xE2\x82"},
        UnansweredBody{"Utf8StrayContinuation", "{\"data\":{\"x\":\"\x80\"}}"}),
    [](const ::testing::TestParamInfo<UnansweredBody>& info) { return info.param.name; });

// The oversized body is streamed in chunks so the test never holds it.
TEST_F(HostFrames, FrameOverTheLimitIsSkippedAndTheNextServed) {
  constexpr std::uint32_t kOversize = 256u * 1024 * 1024 + 1;
  HostProcess host(environment());
  ASSERT_TRUE(host.started());
  bool written = false;
  std::thread writer([&host, &written] {
    const std::string chunk(1024 * 1024, '{');
    bool ok = host.write(lengthBytes(kOversize));
    for (std::uint32_t left = kOversize; ok && left > 0;) {
      std::uint32_t size = std::min<std::uint32_t>(left, static_cast<std::uint32_t>(chunk.size()));
      ok = size == chunk.size() ? host.write(chunk) : host.write(chunk.substr(0, size));
      left -= size;
    }
    written = ok && host.writeFrame(kRequest);
  });
  std::optional<std::string> answer = host.readFrame();
  writer.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(kAnswer, answer.value_or("<no answer>"));
  // Skipped in bounded chunks, never held in memory.
  const long peakKiB = host.peakResidentKiB();
  EXPECT_GT(peakKiB, 0);
  EXPECT_LT(peakKiB, 128 * 1024);
  host.closeInput();
  EXPECT_FALSE(host.readFrame().has_value());
  EXPECT_FALSE(host.timedOut());
  EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
}

TEST_F(HostFrames, LibraryChatterOnStandardOutputGoesToStandardError) {
  const std::string chatter = "vendor chatter on stdout";
  HostRun run = ask({kRequest, kRequest}, {"AVCM_FAKE_STDOUT=" + chatter});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  EXPECT_EQ((std::vector<std::string>{kAnswer, kAnswer}), run.answers);
  EXPECT_EQ("", run.rest);
  EXPECT_NE(std::string::npos, run.errors.find(chatter));
}

TEST_F(HostFrames, ClosedAnswerReaderDoesNotStopTheHost) {
  HostProcess host(environment());
  ASSERT_TRUE(host.started());
  host.closeOutput();
  constexpr int kRequests = 3;
  for (int i = 0; i < kRequests; ++i) EXPECT_TRUE(host.writeFrame(kRequest));
  host.closeInput();
  EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
  std::vector<std::string> calls = libraryCalls(recordPath());
  // Every request reached the library, though no answer could be delivered.
  EXPECT_EQ(kRequests, std::count(calls.begin(), calls.end(), "AvCmGetObjectInfo"));
}

}  // namespace
