// Many hosts at once on the same directories, and a host whose answer reader
// went away: every answer checked, nothing left on disk, every session closed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/process/host_process.h"
#include "tests/stress/stress_requests.h"

namespace {

constexpr int kHosts = 16;
constexpr int kRequestsPerHost = 200;

class HostStress : public HostTest {};

TEST_F(HostStress, SixteenHostsShareTheWorkingAndDefaultDirectories) {
  const std::string work = tempPath() + "/shared";
  std::vector<std::vector<MixedRequest>> plans(kHosts);
  std::vector<HostRun> runs(kHosts);
  std::vector<std::thread> threads;
  for (int host = 0; host < kHosts; ++host) {
    for (int i = 0; i < kRequestsPerHost; ++i) plans[host].push_back(mixedRequest(host, i, work));
    threads.emplace_back([&, host] {
      std::string input;
      for (const MixedRequest& request : plans[host]) input += frame(request.body);
      const std::string record = tempPath() + "/calls-" + std::to_string(host) + ".log";
      runs[host] = runHost(input, {"TMPDIR=" + tempPath(), "AVCM_FAKE_LOG=" + record});
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int host = 0; host < kHosts; ++host) {
    SCOPED_TRACE("host " + std::to_string(host));
    EXPECT_EQ(0, runs[host].exitCode) << runs[host].errors;
    expectNoSanitizerReport(runs[host].errors);
    EXPECT_EQ("", runs[host].rest);
    std::vector<MixedRequest> answered;
    for (const MixedRequest& request : plans[host]) {
      if (request.answered) answered.push_back(request);
    }
    ASSERT_EQ(answered.size(), runs[host].answers.size());
    for (std::size_t i = 0; i < answered.size(); ++i) {
      expectAnswer(answered[i], runs[host].answers[i]);
    }
    const std::string record = tempPath() + "/calls-" + std::to_string(host) + ".log";
    EXPECT_EQ(kNothingOpen, libraryExitLine(record));
  }
  EXPECT_EQ(std::vector<std::string>{}, temp_.entries("shared"));
  EXPECT_EQ(std::vector<std::string>{}, temp_.entries(temp_.hostFolder() + "/vorna_data_signed"));
}

TEST_F(HostStress, HostWithClosedAnswerStreamReadsToTheEndAndExitsCleanly) {
  constexpr int kRequests = 2000;
  const std::string work = tempPath() + "/shared";
  HostProcess host(environment());
  ASSERT_TRUE(host.started());
  host.closeOutput();
  int staged = 0;
  for (int i = 0; i < kRequests; ++i) {
    const MixedRequest request = mixedRequest(0, i, work);
    if (request.stages) ++staged;
    ASSERT_TRUE(host.writeFrame(request.body)) << "request " << i;
  }
  host.closeInput();
  EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
  EXPECT_FALSE(host.timedOut());
  expectNoSanitizerReport(host.errorOutput());
  // Every request was served though no answer could be delivered.
  const std::vector<std::string> calls = libraryCalls(recordPath());
  EXPECT_EQ(staged, std::count(calls.begin(), calls.end(), "AvCmOpenMsg"));
  EXPECT_EQ(kNothingOpen, libraryExitLine(recordPath()));
  EXPECT_EQ(std::vector<std::string>{}, temp_.entries("shared"));
  EXPECT_EQ(std::vector<std::string>{}, temp_.entries(temp_.hostFolder() + "/vorna_data_signed"));
}

}  // namespace
