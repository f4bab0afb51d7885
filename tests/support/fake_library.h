#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

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
  void setFaults(const std::string& faults) {
    if (faults.empty()) {
      ::unsetenv("AVCM_FAKE_FAULTS");
    } else {
      ::setenv("AVCM_FAKE_FAULTS", faults.c_str(), 1);
    }
  }
  // Forgets the calls recorded so far.
  void clearCalls() { std::ofstream(record_, std::ios::trunc); }
  // The calls in order: the operation's name, and for AvCmInit its flag.
  std::vector<std::string> calls() const {
    std::vector<std::string> names;
    std::ifstream in(record_);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string name, first;
      words >> name >> first;
      names.push_back(name == "AvCmInit" ? name + " " + first : name);
    }
    return names;
  }

 private:
  std::string record_;
};
