#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

// The vendor test double's call record at `path`, one entry per line: the
// operation's name, for AvCmInit with its flag ("AvCmInit 1"); the line the
// double writes when its process ends ("exit startups=0 ...") whole.
inline std::vector<std::string> recordedCalls(const std::string& path) {
  std::vector<std::string> calls;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const bool init = line.rfind("AvCmInit", 0) == 0, exit = line.rfind("exit", 0) == 0;
    calls.push_back(exit ? line : line.substr(0, line.find(init ? " -> " : " ")));
  }
  return calls;
}

// Drives the vendor test double in this process: its call record goes to a
// file of the fixture's own, faults are set per case.
class FakeLibrary {
 public:
  explicit FakeLibrary(const TempDir& dir) : record_(dir.path() + "/calls.log") {
    ::setenv("AVCM_FAKE_LOG", record_.c_str(), 1);
    ::unsetenv("AVCM_FAKE_FAULTS");
  }
  ~FakeLibrary() {
    ::unsetenv("AVCM_FAKE_LOG");
    ::unsetenv("AVCM_FAKE_FAULTS");
  }
  void setFaults(const std::string& faults) { ::setenv("AVCM_FAKE_FAULTS", faults.c_str(), 1); }
  // Forgets the calls recorded so far.
  void clearCalls() { std::ofstream(record_, std::ios::trunc); }
  std::vector<std::string> calls() const { return recordedCalls(record_); }

 private:
  std::string record_;
};
