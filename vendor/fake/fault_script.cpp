#include "vendor/fake/fault_script.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace avcm_fake {

namespace {

const std::string kFaultTargets =
    " AvCmInit AvCmLogin AvCmLogout AvCmOpenMsg AvCmMsgSign AvCmGetMsg "
    "AvCmCloseHandle AvCmGetCertAttr AvCmGetObjectInfo AvCmGetErrorInfo ";

// Decimal, or hexadecimal after "0x"; false for anything else.
bool parseNumber(const std::string& text, std::uint32_t& value) {
  char* end = nullptr;
  const unsigned long result = std::strtoul(text.c_str(), &end, 0);
  value = static_cast<std::uint32_t>(result);
  return !text.empty() && *end == '\0' && result <= UINT32_MAX && text[0] != '-';
}

}  // namespace

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool FaultScript::failsCall(const std::string& operation, std::uint32_t& status) {
  const std::string script = environmentValue("AVCM_FAKE_FAULTS");
  if (script != script_) load(script);
  ++calls_[operation];
  for (const Fault& fault : faults_) {
    if (fault.target != operation) continue;
    if (fault.call == 0 || fault.call == calls_[operation]) {
      status = fault.status;
      return true;
    }
  }
  return false;
}

bool FaultScript::parseFault(const std::string& entry, Fault& fault) {
  const std::size_t equals = entry.find('='), at = entry.find('@');
  if (equals == std::string::npos) return false;
  fault.target = entry.substr(0, equals);
  if (at != std::string::npos &&
      (!parseNumber(entry.substr(at + 1), fault.call) || fault.call == 0)) {
    return false;
  }
  return kFaultTargets.find(" " + fault.target + " ") != std::string::npos &&
         parseNumber(entry.substr(equals + 1, at - equals - 1), fault.status);
}

// A new script restarts the call counts, so each test case counts from 1.
void FaultScript::load(const std::string& script) {
  script_ = script;
  faults_.clear();
  calls_.clear();
  for (std::size_t start = 0; start <= script.size();) {
    const std::size_t comma = std::min(script.find(',', start), script.size());
    const std::string entry = script.substr(start, comma - start);
    Fault fault;
    if (parseFault(entry, fault)) {
      faults_.push_back(fault);
    } else if (!entry.empty()) {
      // Silently ignoring a typo would leave a test passing for the wrong reason.
      (void)std::fprintf(stderr, "AvCryptMail fake: ignored fault entry \"%s\"\n", entry.c_str());
    }
    start = comma + 1;
  }
}

}  // namespace avcm_fake
