// Many hosts at once on shared directories, and one long run with flat memory:
// every answer exact, nothing left on disk, every session closed.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/process/host_process.h"

namespace {

// Request `index` of host `host` and its exact answer ("" for none), in cycles
// of six: a session opened (only these log in, so the double's handles are
// 4097, 4098, ...), content signed in the shared working directory `work` and
// in the default one, the certificate, the close, a body that gets no answer.
std::pair<std::string, std::string> mixed(int host, int index, std::string work) {
  const std::string handle = "\"handleProvider\":" + std::to_string(4097 + index / 6) + ",";
  const std::string id =
      "{\"contentId\":\"h" + std::to_string(host) + "-" + std::to_string(index) + "\",\"data\":{";
  const std::string head = id + handle;
  std::string content = "request " + std::to_string(index) + " of host " + std::to_string(host);
  for (int i = 0; i < index % 97; ++i) content += static_cast<char>((host * 31 + i * 7) & 0xFF);
  const std::string sign = head + R"("requestAction":"getSignature",)";
  const std::string data = sign + R"("contentFile":")" + toBase64(content) + "\"";
  const std::string signature =
      sign + R"("result":"success","signature":")" + signatureOf("C1", content) + "\"";
  const std::string in = R"(,"workingDirectory":")" + work + "\"}}";
  for (std::size_t at = work.find('/'); at != std::string::npos; at = work.find('/', at + 2)) {
    work.insert(at, 1, '\\');
  }
  switch (index % 6) {
    case 0:
      return {head + R"("requestAction":"openCryptoProvider","containerName":"C1"}})",
              id + R"("containerName":"C1",)" + handle +
                  R"("requestAction":"openCryptoProvider","result":"success"}})"};
    case 1:
      return {data + in, signature + R"(,"workingDirectory":")" + work + "\"}}"};
    case 2:
      return {data + "}}", signature + "}}"};
    case 3:
      return {head + R"("requestAction":"getCertificate"}})",
              id + R"("certificate":"Q0VSVDpDMQ==",)" + handle +
                  R"("requestAction":"getCertificate","result":"success"}})"};
    case 4:
      return {head + R"("requestAction":"closeCryptoProvider"}})",
              head + R"("requestAction":"closeCryptoProvider","result":"success"}})"};
    default:
      return {index % 12 == 5 ? "[\"not an object\"]" : "{\"contentId\":\"\xff\"}", ""};
  }
}

// The frames of host `host`'s first `count` requests and the answers they get.
std::pair<std::string, std::vector<std::string>> exchange(int host, int count,
                                                          const std::string& work) {
  std::pair<std::string, std::vector<std::string>> result;
  for (int i = 0; i < count; ++i) {
    const auto [request, answer] = mixed(host, i, work);
    result.first += frame(request);
    if (!answer.empty()) result.second.push_back(answer);
  }
  return result;
}

class HostStress : public HostTest {
 protected:
  static void expectCleanExit(const std::string& record) {
    EXPECT_EQ("exit startups=0 sessions=0 messages=0 certificates=0", recordedCalls(record).back());
  }
  void TearDown() override {
    EXPECT_EQ(std::vector<std::string>{}, temp_.entries("shared"));
    EXPECT_EQ(std::vector<std::string>{}, temp_.entries(temp_.hostFolder() + "/vorna_data_signed"));
  }
  std::string work() const { return tempPath() + "/shared"; }
};

TEST_F(HostStress, SixteenHostsShareTheWorkingAndDefaultDirectories) {
  constexpr int kHosts = 16;
  std::vector<std::thread> threads;
  threads.reserve(kHosts);
  for (int host = 0; host < kHosts; ++host) {
    threads.emplace_back([this, host] {
      const auto [input, expected] = exchange(host, 180, work());
      const std::string record = tempPath() + "/calls-" + std::to_string(host) + ".log";
      const HostRun run = runHost(input, {"TMPDIR=" + tempPath(), "AVCM_FAKE_LOG=" + record});
      EXPECT_EQ(0, run.exitCode) << "host " << host << run.errors;
      EXPECT_EQ("", run.rest);
      EXPECT_TRUE(expected == run.answers) << "host " << host;
      expectCleanExit(record);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

// AddressSanitizer holds freed memory back in quarantine, so only a plain
// build's resident memory tells a leak; LeakSanitizer covers the other.
TEST_F(HostStress, HundredThousandSmallRequestsKeepMemoryFlat) {
  const auto exchanged = exchange(0, 96000, work());
  HostProcess host(environment());
  std::thread writer([&] { host.write(exchanged.first); });
  std::vector<std::string> answers;
  long warmKiB = -1;
  while (answers.size() < exchanged.second.size()) {
    std::optional<std::string> answer = host.readFrame();
    if (!answer) break;
    answers.push_back(*answer);
    if (answers.size() == 10000) warmKiB = host.memoryKiB("VmRSS:");
  }
  const long endKiB = host.memoryKiB("VmRSS:");
  writer.join();
  host.closeInput();
  EXPECT_TRUE(exchanged.second == answers);
  EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
  expectCleanExit(recordPath());
  ASSERT_TRUE(warmKiB > 0 && endKiB > 0);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(endKiB - warmKiB, 1024) << "KiB after warm-up " << warmKiB << ", at the end " << endKiB;
#endif
}

}  // namespace
