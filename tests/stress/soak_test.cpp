// One host serving a long run of small requests: every answer checked, the
// resident memory flat after warm-up, every vendor session closed.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "tests/process/host_process.h"
#include "tests/stress/stress_requests.h"

namespace {

constexpr int kRequests = 100000;
constexpr int kWarmUpAnswers = 10000;
constexpr long kMaxGrowthKiB = 1024;

// AddressSanitizer holds freed memory back in quarantine, so a sanitized
// host's resident memory grows without a leak; only leaks count there, and
// LeakSanitizer reports those at exit.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeasurable = false;
#else
constexpr bool kMemoryIsMeasurable = true;
#endif

#ifdef QUORVANT_HOST_EMULATOR
// Under qemu-user the process is the emulator, whose own heap grows with the
// calls it emulates; the 32-bit host's memory is what it maps below 4 GiB
// (qemu places the guest at address 0 when it can; a total of 0 fails).
long residentKiB(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/smaps");
  long total = 0;
  bool guest = false;
  for (std::string line; std::getline(maps, line);) {
    if (line.find(' ') < line.find(':')) {
      guest = std::stoull(line, nullptr, 16) < (1ull << 32);
    } else if (guest && line.rfind("Rss:", 0) == 0) {
      total += std::stol(line.substr(4));
    }
  }
  return total;
}
#else
long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}
#endif

class HostSoak : public HostTest {};

TEST_F(HostSoak, HundredThousandSmallRequestsKeepMemoryFlat) {
  const std::string work = tempPath() + "/shared";
  HostProcess host(environment());
  ASSERT_TRUE(host.started());
  bool written = true;
  std::thread writer([&] {
    for (int i = 0; i < kRequests && written; ++i) {
      written = host.writeFrame(mixedRequest(0, i, work).body);
    }
  });
  int mismatches = 0;
  long warmKiB = -1, endKiB = -1;
  int answers = 0;
  for (int i = 0; i < kRequests; ++i) {
    const MixedRequest request = mixedRequest(0, i, work);
    if (!request.answered) continue;
    std::optional<std::string> answer = host.readFrame();
    if (!answer) break;
    ++answers;
    const std::string why = answerMismatch(request, *answer);
    if (!why.empty() && ++mismatches <= 5) ADD_FAILURE() << why;
    if (answers == kWarmUpAnswers) warmKiB = residentKiB(host.pid());
  }
  endKiB = residentKiB(host.pid());
  writer.join();
  host.closeInput();
  EXPECT_TRUE(written);
  EXPECT_EQ(kRequests / 8 * 7, answers);
  EXPECT_EQ(0, mismatches);
  EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
  EXPECT_FALSE(host.timedOut());
  expectNoSanitizerReport(host.errorOutput());
  EXPECT_EQ(kNothingOpen, libraryExitLine(recordPath()));
  EXPECT_EQ(std::vector<std::string>{}, temp_.entries("shared"));
  EXPECT_EQ(std::vector<std::string>{}, temp_.entries(temp_.hostFolder() + "/vorna_data_signed"));

  std::cout << "resident memory after warm-up " << warmKiB << " KiB, at the end " << endKiB
            << " KiB\n";
  ASSERT_GT(warmKiB, 0);
  ASSERT_GT(endKiB, 0);
  if (kMemoryIsMeasurable) {
    EXPECT_LT(endKiB - warmKiB, kMaxGrowthKiB);
  }
}

}  // namespace
