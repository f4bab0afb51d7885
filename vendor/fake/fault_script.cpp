#include "vendor/fake/fault_script.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace avcm_fake {

namespace {

const char* const kFaultTargets[] = {"AvCmInit",        "AvCmInit:1",        "AvCmInit:2",
                                     "AvCmLogin",       "AvCmLogout",        "AvCmOpenMsg",
                                     "AvCmMsgSign",     "AvCmGetMsg",        "AvCmCloseHandle",
                                     "AvCmGetCertAttr", "AvCmGetObjectInfo", "AvCmGetErrorInfo"};

// Decimal, or hexadecimal after "0x"; false for anything else or above 32 bits.
bool parseNumber(const std::string& text, std::uint32_t& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const unsigned base = hex ? 16 : 10;
  const std::size_t start = hex ? 2 : 0;
  if (text.size() == start) return false;
  std::uint64_t result = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char* digits = "0123456789abcdef";
    const char* found = std::strchr(digits, text[i] | 0x20);
    if (!found || static_cast<unsigned>(found - digits) >= base) return false;
    result = result * base + static_cast<unsigned>(found - digits);
    if (result > UINT32_MAX) return false;
  }
  value = static_cast<std::uint32_t>(result);
  return true;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool FaultScript::failsCall(const std::string& operation, const std::string& variant,
                            std::uint32_t& status) {
  const std::string script = environmentValue("AVCM_FAKE_FAULTS");
  if (script != script_) load(script);
  ++calls_[operation];
  if (!variant.empty()) ++calls_[variant];
  for (const Fault& fault : faults_) {
    if (fault.target != operation && (variant.empty() || fault.target != variant)) continue;
    if (fault.call == 0 || fault.call == calls_[fault.target]) {
      status = fault.status;
      return true;
    }
  }
  return false;
}

bool FaultScript::parseFault(const std::string& entry, Fault& fault) {
  const std::size_t equals = entry.find('=');
  if (equals == std::string::npos) return false;
  fault.target = trimmed(entry.substr(0, equals));
  bool known = false;
  for (const char* target : kFaultTargets) known = known || fault.target == target;
  std::string value = trimmed(entry.substr(equals + 1));
  const std::size_t at = value.find('@');
  if (at != std::string::npos) {
    if (!parseNumber(trimmed(value.substr(at + 1)), fault.call) || fault.call == 0) return false;
    value = trimmed(value.substr(0, at));
  }
  return known && parseNumber(value, fault.status);
}

// A new script restarts the call counts, so each test case counts from 1.
void FaultScript::load(const std::string& script) {
  script_ = script;
  faults_.clear();
  calls_.clear();
  std::size_t start = 0;
  while (start <= script.size()) {
    std::size_t comma = script.find(',', start);
    if (comma == std::string::npos) comma = script.size();
    const std::string entry = trimmed(script.substr(start, comma - start));
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
