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

// Request `index` of host `host` and its exact answer ("" for none). Cycles
// of six: open a session (only these log in, so the double's handles 4097,
// 4098, ... are known), content signed in the shared working directory `work`
// and in the default one, the certificate, the close, a body that gets no
// answer.
std::pair<std::string, std::string> mixed(int host, int index, std::string work) {
  const std::string handle = "\"handleProvider\":" + std::to_string(4097 + index / 6) + ",";
  auto body = [&](const std::string& data) {
    return "{\"contentId\":\"h" + std::to_string(host) + "-" + std::to_string(index) +
           "\",\"data\":{" + data + "}}";
  };
  std::string content = "request " + std::to_string(index) + " of host " + std::to_string(host);
  for (int i = 0; i < index % 97; ++i) content += static_cast<char>((host * 31 + i * 7) & 0xFF);
  const std::string sign = handle + R"("requestAction":"getSignature",)";
  const std::string signature =
      R"("result":"success","signature":")" + signatureOf("C1", content) + "\"";
  switch (index % 6) {
    case 0:
      return {body(R"("requestAction":"openCryptoProvider","containerName":"C1")"),
              body(R"("containerName":"C1",)" + handle +
                   R"("requestAction":"openCryptoProvider","result":"success")")};
    case 1:
    case 2: {
      const std::string dir = index % 6 == 1 ? ",\"workingDirectory\":\"" + work + "\"" : "";
      for (std::size_t at = work.find('/'); at != std::string::npos; at = work.find('/', at + 2)) {
        work.insert(at, 1, '\\');
      }
      const std::string echoed = index % 6 == 1 ? ",\"workingDirectory\":\"" + work + "\"" : "";
      return {body(sign + R"("contentFile":")" + toBase64(content) + "\"" + dir),
              body(sign + signature + echoed)};
    }
    case 3:
      return {body(handle + R"("requestAction":"getCertificate")"),
              body(R"("certificate":"Q0VSVDpDMQ==",)" + handle +
                   R"("requestAction":"getCertificate","result":"success")")};
    case 4:
      return {body(handle + R"("requestAction":"closeCryptoProvider")"),
              body(handle + R"("requestAction":"closeCryptoProvider","result":"success")")};
    default:
      return {index % 12 == 5 ? "[\"not an object\"]" : "{\"contentId\":\"\xff\"}", ""};
  }
}

class HostStress : public HostTest {
 protected:
  std::string work() const { return tempPath() + "/shared"; }
  void expectCleanExit(const std::string& record, const std::string& errors) {
    EXPECT_EQ(std::string::npos, errors.find("Sanitizer")) << errors;
    EXPECT_EQ("exit startups=0 sessions=0 messages=0 certificates=0", recordedCalls(record).back());
    EXPECT_EQ(std::vector<std::string>{}, temp_.entries("shared"));
    EXPECT_EQ(std::vector<std::string>{}, temp_.entries(temp_.hostFolder() + "/vorna_data_signed"));
  }
};

TEST_F(HostStress, SixteenHostsShareTheWorkingAndDefaultDirectories) {
  constexpr int kHosts = 16, kRequests = 180;
  std::vector<HostRun> runs(kHosts);
  std::vector<std::thread> threads;
  threads.reserve(kHosts);
  for (int host = 0; host < kHosts; ++host) {
    threads.emplace_back([&, host] {
      std::string input;
      for (int i = 0; i < kRequests; ++i) input += frame(mixed(host, i, work()).first);
      const std::string record = tempPath() + "/calls-" + std::to_string(host) + ".log";
      runs[host] = runHost(input, {"TMPDIR=" + tempPath(), "AVCM_FAKE_LOG=" + record});
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int host = 0; host < kHosts; ++host) {
    SCOPED_TRACE("host " + std::to_string(host));
    std::vector<std::string> expected;
    for (int i = 0; i < kRequests; ++i) {
      if (!mixed(host, i, work()).second.empty()) expected.push_back(mixed(host, i, work()).second);
    }
    EXPECT_EQ(0, runs[host].exitCode);
    EXPECT_EQ("", runs[host].rest);
    EXPECT_TRUE(expected == runs[host].answers);
    expectCleanExit(tempPath() + "/calls-" + std::to_string(host) + ".log", runs[host].errors);
  }
}

TEST_F(HostStress, HostWithClosedAnswerStreamReadsToTheEndAndExitsCleanly) {
  HostProcess host(environment());
  host.closeOutput();
  for (int i = 0; i < 2400; ++i) ASSERT_TRUE(host.writeFrame(mixed(0, i, work()).first)) << i;
  host.closeInput();
  EXPECT_EQ(0, host.waitForExit());
  const std::vector<std::string> calls = recordedCalls(recordPath());
  EXPECT_EQ(2400 / 6 * 2, std::count(calls.begin(), calls.end(), "AvCmOpenMsg"));
  expectCleanExit(recordPath(), host.errorOutput());
}

// AddressSanitizer holds freed memory back in quarantine, so only a plain
// build's resident memory tells a leak; LeakSanitizer covers the other.
TEST_F(HostStress, HundredThousandSmallRequestsKeepMemoryFlat) {
  constexpr int kRequests = 96000, kWarmUp = 10000;
  HostProcess host(environment());
  std::thread writer([&] {
    for (int i = 0; i < kRequests && host.writeFrame(mixed(0, i, work()).first); ++i) {
    }
  });
  int mismatches = 0, answers = 0;
  long warmKiB = -1;
  for (int i = 0; i < kRequests; ++i) {
    const std::string expected = mixed(0, i, work()).second;
    if (expected.empty()) continue;
    std::optional<std::string> answer = host.readFrame();
    if (!answer) break;
    if (*answer != expected && ++mismatches <= 5) ADD_FAILURE() << *answer << "\n" << expected;
    if (++answers == kWarmUp) warmKiB = host.memoryKiB("VmRSS:");
  }
  const long endKiB = host.memoryKiB("VmRSS:");
  writer.join();
  host.closeInput();
  EXPECT_EQ(kRequests / 6 * 5, answers);
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
