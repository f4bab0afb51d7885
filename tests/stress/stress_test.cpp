// Many hosts at once on shared directories, a host whose answer reader went
// away, and one host serving a long run with flat memory: every answer
// checked exactly, nothing left on disk, every session closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/process/host_process.h"

namespace {

constexpr char kNothingOpen[] = "exit startups=0 sessions=0 messages=0 certificates=0";

std::string escaped(std::string text) {
  for (std::size_t at = text.find('/'); at != std::string::npos; at = text.find('/', at + 2)) {
    text.insert(at, 1, '\\');
  }
  return text;
}

// Request `index` of host `host` and its exact answer ("" for none). Cycles
// of eight: open a session (only these log in, so the double's handles
// 4097, 4098, ... are known), its certificate, content signed in the shared
// working directory and in the default one, an unknown action, the close,
// a body that gets no answer, a close without handle.
std::pair<std::string, std::string> mixed(int host, int index, const std::string& work) {
  const std::string id =
      "\"contentId\":\"h" + std::to_string(host) + "-" + std::to_string(index) + "\"";
  const std::string handle = "\"handleProvider\":" + std::to_string(4097 + index / 8);
  std::string content = "request " + std::to_string(index) + " of host " + std::to_string(host);
  for (int i = 0; i < index % 97; ++i) content += static_cast<char>((host * 31 + i * 7) & 0xFF);
  const std::string dir = index % 8 == 2 ? ",\"workingDirectory\":\"" + work + "\"" : "";
  const std::string echoedDir =
      index % 8 == 2 ? ",\"workingDirectory\":\"" + escaped(work) + "\"" : "";
  auto body = [&id](const std::string& data) { return "{" + id + ",\"data\":{" + data + "}}"; };
  switch (index % 8) {
    case 0:
      return {body(R"("requestAction":"openCryptoProvider","containerName":"C1")"),
              body(R"("containerName":"C1",)" + handle +
                   R"(,"requestAction":"openCryptoProvider","result":"success")")};
    case 1:
      return {body(R"("requestAction":"getCertificate",)" + handle),
              body(R"("certificate":"Q0VSVDpDMQ==",)" + handle +
                   R"(,"requestAction":"getCertificate","result":"success")")};
    case 2:
    case 3:
      return {body(R"("requestAction":"getSignature",)" + handle + R"(,"contentFile":")" +
                   toBase64(content) + "\"" + dir),
              body(handle + R"(,"requestAction":"getSignature","result":"success","signature":")" +
                   toBase64(signedMessage("C1", content)) + "\"" + echoedDir)};
    case 4:
      return {body(R"("requestAction":"noSuchAction")"),
              body(R"("description":"Unknow request action noSuchAction",)"
                   R"("requestAction":"noSuchAction","result":"error")")};
    case 5:
      return {body(R"("requestAction":"closeCryptoProvider",)" + handle),
              body(handle + R"(,"requestAction":"closeCryptoProvider","result":"success")")};
    case 6:
      return {index % 16 == 6 ? "[\"not an object\"]" : "{\"contentId\":\"\xff\"}", ""};
    default:
      return {
          body(R"("requestAction":"closeCryptoProvider")"),
          body(R"("description":"Bad parameter handleProvider in action )"
               R"(closeCryptoProvider","requestAction":"closeCryptoProvider","result":"error")")};
  }
}

class HostStress : public HostTest {
 protected:
  void expectCleanExit(const std::string& record, const std::string& errors) {
    EXPECT_EQ(std::string::npos, errors.find("Sanitizer")) << errors;
    EXPECT_EQ(kNothingOpen, libraryExitLine(record));
    EXPECT_EQ(std::vector<std::string>{}, temp_.entries("shared"));
    EXPECT_EQ(std::vector<std::string>{}, temp_.entries(temp_.hostFolder() + "/vorna_data_signed"));
  }
};

TEST_F(HostStress, SixteenHostsShareTheWorkingAndDefaultDirectories) {
  constexpr int kHosts = 16, kRequests = 200;
  const std::string work = tempPath() + "/shared";
  std::vector<HostRun> runs(kHosts);
  std::vector<std::thread> threads;
  threads.reserve(kHosts);
  for (int host = 0; host < kHosts; ++host) {
    threads.emplace_back([&, host] {
      std::string input;
      for (int i = 0; i < kRequests; ++i) input += frame(mixed(host, i, work).first);
      const std::string record = tempPath() + "/calls-" + std::to_string(host) + ".log";
      runs[host] = runHost(input, {"TMPDIR=" + tempPath(), "AVCM_FAKE_LOG=" + record});
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int host = 0; host < kHosts; ++host) {
    SCOPED_TRACE("host " + std::to_string(host));
    std::vector<std::string> expected;
    for (int i = 0; i < kRequests; ++i) {
      if (!mixed(host, i, work).second.empty()) expected.push_back(mixed(host, i, work).second);
    }
    EXPECT_EQ(0, runs[host].exitCode);
    EXPECT_EQ("", runs[host].rest);
    EXPECT_TRUE(expected == runs[host].answers);
    expectCleanExit(tempPath() + "/calls-" + std::to_string(host) + ".log", runs[host].errors);
  }
}

TEST_F(HostStress, HostWithClosedAnswerStreamReadsToTheEndAndExitsCleanly) {
  const std::string work = tempPath() + "/shared";
  HostProcess host(environment());
  ASSERT_TRUE(host.started());
  host.closeOutput();
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(host.writeFrame(mixed(0, i, work).first)) << i;
  host.closeInput();
  EXPECT_EQ(0, host.waitForExit());
  const std::vector<std::string> calls = libraryCalls(recordPath());
  EXPECT_EQ(2000 / 8 * 2, std::count(calls.begin(), calls.end(), "AvCmOpenMsg"));
  expectCleanExit(recordPath(), host.errorOutput());
}

// AddressSanitizer holds freed memory back in quarantine, so only a plain
// build's resident memory tells a leak; LeakSanitizer covers the other.
TEST_F(HostStress, HundredThousandSmallRequestsKeepMemoryFlat) {
  constexpr int kRequests = 100000, kWarmUp = 10000;
  const std::string work = tempPath() + "/shared";
  HostProcess host(environment());
  ASSERT_TRUE(host.started());
  std::thread writer([&] {
    for (int i = 0; i < kRequests && host.writeFrame(mixed(0, i, work).first); ++i) {
    }
  });
  int mismatches = 0, answers = 0;
  long warmKiB = -1;
  for (int i = 0; i < kRequests; ++i) {
    const std::string expected = mixed(0, i, work).second;
    if (expected.empty()) continue;
    std::optional<std::string> answer = host.readFrame();
    if (!answer) break;
    if (*answer != expected && ++mismatches <= 5) ADD_FAILURE() << *answer << "\n" << expected;
    if (++answers == kWarmUp) warmKiB = host.memoryKiB("VmRSS:");
  }
  const long endKiB = host.memoryKiB("VmRSS:");
  writer.join();
  host.closeInput();
  EXPECT_EQ(kRequests / 8 * 7, answers);
  EXPECT_EQ(0, mismatches);
  EXPECT_EQ(0, host.waitForExit());
  expectCleanExit(recordPath(), host.errorOutput());
  std::cout << "resident memory after warm-up " << warmKiB << " KiB, at the end " << endKiB
            << " KiB\n";
  ASSERT_GT(warmKiB, 0);
  ASSERT_GT(endKiB, 0);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(endKiB - warmKiB, 1024);
#endif
}

}  // namespace
