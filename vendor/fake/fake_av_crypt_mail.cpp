// A scriptable stand-in for the vendor's crypto library, described in
// vendor/fake/README.md: deterministic handles and bytes, faults, a call record.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "vendor/av_crypt_mail.h"
#include "vendor/fake/fake_platform.h"

namespace {

constexpr std::uint32_t kContainerNotFound = 0x101;
constexpr std::uint32_t kSignFailed = 0x103;
constexpr std::uint32_t kInvalidHandle = 0x104;
constexpr std::uint32_t kNotInitialised = 0x105;
constexpr std::uint32_t kBadLogin = 0x106;
constexpr std::uint32_t kBufferTooSmall = 0x107;
constexpr std::uint32_t kNotSigned = 0x108;
constexpr std::uint32_t kBadArgument = 0x109;
constexpr std::uint32_t kNoMemory = 0x10A;
constexpr std::uint32_t kUndescribable = 0x1FF;
constexpr std::uint32_t kLookupFailed = 0x1FE;

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

struct Fault {
  std::string operation;
  std::uint32_t status = 0;
  std::uint32_t call = 0;  // 0: every call
};

// One AVCM_FAKE_FAULTS entry, `Operation=status` or `Operation=status@n`
// (status decimal or 0x-hex, n decimal).
bool parseFault(const std::string& entry, Fault& fault) {
  const std::size_t equals = entry.find('='), at = entry.find('@');
  if (equals == std::string::npos) return false;
  fault.operation = entry.substr(0, equals);
  fault.status = static_cast<std::uint32_t>(std::strtoul(entry.c_str() + equals + 1, nullptr, 0));
  if (at != std::string::npos) {
    fault.call = static_cast<std::uint32_t>(std::strtoul(entry.c_str() + at + 1, nullptr, 10));
  }
  return true;
}

// Opened and closed per line, so that the test can read it at any time.
void appendRecord(const std::string& line) {
  const std::string path = environmentValue("AVCM_FAKE_LOG");
  if (path.empty()) return;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "ab"),
                                                       &std::fclose);
  if (file) (void)std::fputs((line + "\n").c_str(), file.get());
}

std::string errorText(std::uint32_t code) {
  const std::map<std::uint32_t, std::string> texts = {
      {kContainerNotFound, "Key container not found"},
      {kSignFailed, avcm_fake::ansiFromUtf8(u8"Ошибка подписи: ключ недоступен")},
      {kInvalidHandle, "Invalid handle"},
      {kNotInitialised, "Library not initialised"},
      {kBufferTooSmall, "Buffer too small"},
      {kNotSigned, "Message not signed"},
      {kNoMemory, "Not enough memory"}};
  return texts.count(code) != 0 ? texts.at(code) : "Fake library error " + std::to_string(code);
}

// The two-call size protocol: a null buffer asks for the size.
std::uint32_t copyOut(const std::string& bytes, void* buffer, std::uint32_t* length) {
  if (!length) return kBadArgument;
  const auto size = static_cast<std::uint32_t>(bytes.size());
  if (buffer && *length < size) return kBufferTooSmall;
  if (buffer && size > 0) std::memcpy(buffer, bytes.data(), size);
  *length = size;
  return 0;
}

struct Message {
  std::string container;
  std::uint32_t length = 0;
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, 64-bit
  bool isSigned = false;
  // Its own copy of the data until the message closes, as the vendor's keeps.
  std::unique_ptr<unsigned char[]> data;
};

struct State {
  ~State() {  // what is still open when the process ends
    appendRecord("exit startups=" + std::to_string(startups) + " sessions=" +
                 std::to_string(sessions.size()) + " messages=" + std::to_string(messages.size()) +
                 " certificates=" + std::to_string(certificates.size()));
  }

  std::mutex mutex;
  std::string script;  // the fault script last seen; a new one restarts the counts
  std::vector<Fault> faults;
  std::map<std::string, std::uint32_t> calls;
  std::uint32_t startups = 0;
  std::uint32_t nextProvider = 0x1001;
  std::uint32_t nextMessage = 0x2001;
  std::uint32_t nextCertificate = 0x3001;
  std::map<std::uint32_t, std::string> sessions;  // provider handle -> container
  std::map<std::uint32_t, Message> messages;
  std::map<std::uint32_t, std::string> certificates;  // handle -> certificate bytes
};

State state;  // writes its exit line even if the library was never called

void loadFaults(const std::string& script) {
  state.script = script;
  state.faults.clear();
  state.calls.clear();
  std::istringstream entries(script);
  for (std::string entry; std::getline(entries, entry, ',');) {
    Fault fault;
    if (parseFault(entry, fault)) state.faults.push_back(fault);
  }
}

// One operation, or the fault injected in its place; one record line either way.
template <typename Body>
std::uint32_t perform(const char* operation, const std::string& arguments, Body body) {
  std::lock_guard<std::mutex> lock(state.mutex);
  const std::string script = environmentValue("AVCM_FAKE_FAULTS");
  if (script != state.script) loadFaults(script);
  const std::uint32_t call = ++state.calls[operation];
  const auto fault = std::find_if(state.faults.begin(), state.faults.end(), [&](const Fault& f) {
    return f.operation == operation && (f.call == 0 || f.call == call);
  });
  const std::uint32_t status = fault != state.faults.end() ? fault->status : body();
  appendRecord(std::string(operation) + " " + arguments + " -> " + std::to_string(status));
  return status;
}

}  // namespace

extern "C" {

AVCM_API std::uint32_t AVCM_CALL AvCmInit(std::uint32_t flags) {
  const std::string chatter = environmentValue("AVCM_FAKE_STDOUT");
  if (!chatter.empty()) avcm_fake::echoToStandardOutput(chatter + "\n");
  return perform("AvCmInit", std::to_string(flags), [&]() -> std::uint32_t {
    if (flags == AVCMF_STARTUP) {
      ++state.startups;
      return 0;
    }
    if (flags != AVCMF_SHUTDOWN) return kBadArgument;
    if (state.startups == 0) return kNotInitialised;
    --state.startups;
    return 0;
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmLogin(std::uint32_t paramCount, const AvCmLoginParam* params,
                                           std::uint32_t* provider, std::uint32_t flags) {
  return perform("AvCmLogin", "", [&]() -> std::uint32_t {
    if (state.startups == 0) return kNotInitialised;
    if (!provider || flags != 0) return kBadArgument;
    std::string container = paramCount == 0 && !params ? "default" : "";
    if (paramCount == 1 && params && params->code == AVCM_PARAM_CONTAINER_NAME && params->value) {
      container = static_cast<const char*>(params->value);
    }
    if (container.empty()) return kBadLogin;
    if (container.compare(0, 7, "missing") == 0) return kContainerNotFound;
    *provider = state.nextProvider++;
    state.sessions[*provider] = container;
    return 0;
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmLogout(std::uint32_t provider, std::uint32_t flags) {
  return perform("AvCmLogout", "", [&]() -> std::uint32_t {
    if (state.sessions.count(provider) == 0) return kInvalidHandle;
    if (flags != 0) return kBadArgument;
    state.sessions.erase(provider);
    return 0;
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmOpenMsg(std::uint32_t provider, const void* data,
                                             std::uint32_t length, std::uint32_t* message,
                                             std::uint32_t flags) {
  return perform("AvCmOpenMsg", "", [&]() -> std::uint32_t {
    const auto session = state.sessions.find(provider);
    if (session == state.sessions.end()) return kInvalidHandle;
    if (!message || (!data && length > 0) || flags != 0x100) return kBadArgument;
    Message opened;
    opened.container = session->second;
    opened.length = length;
    opened.data.reset(new (std::nothrow) unsigned char[length == 0 ? 1 : length]);
    if (!opened.data) return kNoMemory;
    if (length > 0) std::memcpy(opened.data.get(), data, length);
    for (std::uint32_t i = 0; i < length; ++i) {
      opened.hash = (opened.hash ^ opened.data[i]) * 0x100000001b3ull;
    }
    *message = state.nextMessage++;
    state.messages[*message] = std::move(opened);
    return 0;
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmMsgSign(std::uint32_t message, std::uint32_t flags) {
  return perform("AvCmMsgSign", "", [&]() -> std::uint32_t {
    const auto found = state.messages.find(message);
    if (found == state.messages.end()) return kInvalidHandle;
    if (flags != 0x2100000) return kBadArgument;
    if (found->second.container == "sign-fails") return kSignFailed;
    found->second.isSigned = true;
    return 0;
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmGetMsg(std::uint32_t message, void* buffer,
                                            std::uint32_t* length, std::uint32_t flags) {
  return perform("AvCmGetMsg", "", [&]() -> std::uint32_t {
    const auto found = state.messages.find(message);
    if (found == state.messages.end()) return kInvalidHandle;
    if (flags != 0x2000) return kBadArgument;
    if (!found->second.isSigned) return kNotSigned;
    char hash[17];
    (void)std::snprintf(hash, sizeof hash, "%016llx",
                        static_cast<unsigned long long>(found->second.hash));
    return copyOut("SIGNED:" + found->second.container + ":" +
                       std::to_string(found->second.length) + ":" + hash,
                   buffer, length);
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmCloseHandle(std::uint32_t handle, std::uint32_t flags) {
  return perform("AvCmCloseHandle", "", [&]() -> std::uint32_t {
    if (state.messages.count(handle) == 0 && state.certificates.count(handle) == 0) {
      return kInvalidHandle;
    }
    if (flags != 0) return kBadArgument;
    state.messages.erase(handle);
    state.certificates.erase(handle);
    return 0;
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmGetCertAttr(std::uint32_t certificate, std::uint32_t attribute,
                                                 std::uint32_t index, void* buffer,
                                                 std::uint32_t* length, std::uint32_t flags) {
  return perform("AvCmGetCertAttr", "", [&]() -> std::uint32_t {
    const auto found = state.certificates.find(certificate);
    if (found == state.certificates.end()) return kInvalidHandle;
    if (attribute != 45 || index != 0 || flags != 0) return kBadArgument;
    return copyOut(found->second, buffer, length);
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmGetObjectInfo(std::uint32_t provider, std::uint32_t infoCode,
                                                   void* value, std::uint32_t* size,
                                                   std::uint32_t flags) {
  return perform("AvCmGetObjectInfo", "", [&]() -> std::uint32_t {
    const auto session = state.sessions.find(provider);
    if (session == state.sessions.end()) return kInvalidHandle;
    if (infoCode != 8 || !value || !size || *size != sizeof(std::uint32_t) || flags != 0) {
      return kBadArgument;
    }
    const std::uint32_t certificate = state.nextCertificate++;
    state.certificates[certificate] =
        session->second == "empty-cert" ? std::string() : "CERT:" + session->second;
    std::memcpy(value, &certificate, sizeof certificate);
    return 0;
  });
}

AVCM_API std::uint32_t AVCM_CALL AvCmGetErrorInfo(std::uint32_t provider, std::uint32_t code,
                                                  std::uint32_t kind, char* buffer,
                                                  std::uint32_t* size, std::uint32_t flags) {
  return perform("AvCmGetErrorInfo", std::to_string(code), [&]() -> std::uint32_t {
    if (provider != 0 || kind != 2 || !buffer || !size || flags != 8) return kBadArgument;
    if (code == kUndescribable) return kLookupFailed;
    const std::string text = errorText(code);
    if (*size <= text.size()) return kBufferTooSmall;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *size = static_cast<std::uint32_t>(text.size() + 1);
    return 0;
  });
}

}  // extern "C"
