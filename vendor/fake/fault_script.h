#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace avcm_fake {

// The value of an environment variable; an unset variable reads as empty, and
// every switch of the fake is off when empty.
std::string environmentValue(const char* name);

// The failures that AVCM_FAKE_FAULTS asks for, as comma-separated entries
// `Operation=status` (every call fails) or `Operation=status@n` (only the n-th
// call), without spaces. Status and n are decimal or 0x-hex. Malformed entries are reported on
// standard error and ignored.
class FaultScript {
 public:
  // Reads the variable afresh and counts one call of `operation`; true when
  // this call must fail, with `status` set. A changed variable restarts
  // every count before this call is counted.
  bool failsCall(const std::string& operation, std::uint32_t& status);

 private:
  struct Fault {
    std::string target;
    std::uint32_t status = 0;
    std::uint32_t call = 0;  // 0: every call
  };

  static bool parseFault(const std::string& entry, Fault& fault);
  void load(const std::string& script);

  std::string script_;
  std::vector<Fault> faults_;
  std::map<std::string, std::uint32_t> calls_;
};

}  // namespace avcm_fake
