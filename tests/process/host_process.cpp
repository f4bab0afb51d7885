#include "tests/process/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "text/base64.h"
#include "text/text_convert.h"

extern char** environ;

#ifndef QUORVANT_HOST_EMULATOR
#define QUORVANT_HOST_EMULATOR ""
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kTimeLimit{60};

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Wine finds its running server through the test's own TMPDIR (a new one
// would start a server per host); a direct host gets only the test's TMPDIR.
std::vector<std::string> childEnvironment(const Environment& extra) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const bool temporary = startsWith(*entry, "TMPDIR=") || startsWith(*entry, "XDG_RUNTIME_DIR=");
    if ((hostIsLaunched() || !temporary) && !startsWith(*entry, "AVCM_FAKE_")) {
      entries.emplace_back(*entry);
    }
  }
  for (const std::string& entry : extra) {
    if (!hostIsLaunched() || !startsWith(entry, "TMPDIR=")) entries.push_back(entry);
  }
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

std::uint32_t lengthAt(const std::string& bytes) {
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(bytes[i]);
  return length;
}

std::string decoded(const std::string& base64) {
  const std::vector<std::uint8_t> bytes = base64Decode(base64);
  return std::string(bytes.begin(), bytes.end());
}

// The Windows stage runs the same tests against the x64 host under wine64:
// it names both in the environment.
const char* hostLauncher() {
  static const char* launcher = std::getenv("QUORVANT_HOST_LAUNCHER");
  return launcher != nullptr ? launcher : "";
}
}  // namespace

std::string hostPath() {
  static const char* path = std::getenv("QUORVANT_HOST_PATH");
  return path != nullptr ? path : QUORVANT_HOST_PATH;
}
bool hostIsLaunched() { return hostLauncher()[0] != '\0'; }

HostProcess::HostProcess(const Environment& environment, const std::string& host) {
  std::signal(SIGPIPE, SIG_IGN);  // a host that dies must fail a write, not kill the test
  char errors[] = "/tmp/quorvant-host-errors-XXXXXX";
  const int errorFile = ::mkstemp(errors);
  errorPath_ = errors;
  // Close-on-exec: hosts other threads start must not hold this input open.
  int in[2], out[2];
  if (errorFile < 0 || ::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
  // Behind its launcher (wine64) or the emulator of a 32-bit x86 host if any.
  std::vector<std::string> argv, envp = childEnvironment(environment);
  if (hostIsLaunched()) argv.emplace_back(hostLauncher());
  if (QUORVANT_HOST_EMULATOR[0] != '\0') argv.emplace_back(QUORVANT_HOST_EMULATOR);
  argv.push_back(host.empty() ? hostPath() : host);
  std::vector<char*> args = pointers(argv), envs = pointers(envp);
  pid_ = ::fork();
  if (pid_ == 0) {
    // SIGPIPE at its default: a host that forgot to ignore it must fail.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::signal(SIGPIPE, SIG_DFL);
    if (::dup2(in[0], 0) == 0 && ::dup2(out[1], 1) == 1 && ::dup2(errorFile, 2) == 2) {
      ::execve(args[0], args.data(), envs.data());
    }
    ::_exit(127);
  }
  for (int fd : {in[0], out[1], errorFile}) ::close(fd);
  input_ = in[1];
  output_ = out[0];
}

HostProcess::~HostProcess() {
  closeInput();
  if (pid_ > 0 && !exitCode_) ::kill(pid_, SIGKILL);
  waitForExit();
  closeOutput();
  ::unlink(errorPath_.c_str());
}

bool HostProcess::write(const std::string& bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    ssize_t written = input_ < 0 ? -1 : ::write(input_, bytes.data() + sent, bytes.size() - sent);
    if (written < 0) return false;
    sent += static_cast<std::size_t>(written);
  }
  return true;
}

bool HostProcess::writeFrame(const std::string& body) { return write(frame(body)); }

void HostProcess::closeInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

void HostProcess::closeOutput() {
  if (output_ >= 0) ::close(output_);
  output_ = -1;
}

std::optional<std::string> HostProcess::readFrame() {
  const int limit = static_cast<int>(std::chrono::milliseconds(kTimeLimit).count());
  while (pending_.size() < 4 || pending_.size() - 4 < lengthAt(pending_)) {
    pollfd ready = {output_, POLLIN, 0};
    char buffer[64 * 1024];
    const bool readable = output_ >= 0 && ::poll(&ready, 1, limit) > 0;
    const ssize_t got = readable ? ::read(output_, buffer, sizeof buffer) : 0;
    if (got <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
  std::string body = pending_.substr(4, lengthAt(pending_));
  pending_.erase(0, 4 + body.size());
  return body;
}

int HostProcess::waitForExit() {
  if (exitCode_ || pid_ <= 0) return exitCode_.value_or(-1);
  const Clock::time_point deadline = Clock::now() + kTimeLimit;
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (done == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
  exitCode_ = done <= 0             ? -1
              : WIFEXITED(status)   ? WEXITSTATUS(status)
              : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                    : -1;
  return *exitCode_;
}

std::string HostProcess::errorOutput() const {
  std::ifstream in(errorPath_, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Under qemu-user the emulator's own heap grows with the calls it emulates:
// the 32-bit host's resident memory is what lies below 4 GiB.
long HostProcess::memoryKiB(const char* field) const {
  const std::string proc = "/proc/" + std::to_string(pid_);
  if (QUORVANT_HOST_EMULATOR[0] != '\0' && std::strcmp(field, "VmRSS:") == 0) {
    std::ifstream maps(proc + "/smaps");
    long total = 0;
    bool guest = false;
    for (std::string line; std::getline(maps, line);) {
      if (line.find(' ') < line.find(':')) {
        guest = std::stoull(line, nullptr, 16) < (1ULL << 32);
      } else if (guest && startsWith(line, "Rss:")) {
        total += std::stol(line.substr(4));
      }
    }
    return total;
  }
  std::ifstream status(proc + "/status");
  for (std::string line; std::getline(status, line);) {
    if (startsWith(line, field)) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

std::string lengthBytes(std::uint32_t length) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return bytes;
}

std::string frame(const std::string& body) {
  return lengthBytes(static_cast<std::uint32_t>(body.size())) + body;
}

HostRun runHost(const std::string& input, const Environment& environment, bool deaf) {
  HostRun run;
  HostProcess process(environment);
  if (deaf) process.closeOutput();
  std::thread writer([&] {
    process.write(input);
    process.closeInput();
  });
  while (std::optional<std::string> answer = process.readFrame()) run.answers.push_back(*answer);
  run.exitCode = process.waitForExit();  // kills a stuck host, which ends the writer
  writer.join();
  run.rest = process.unread();
  run.errors = process.errorOutput();
  return run;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool opensslVerifies(const std::string& dir, const std::string& signature,
                     const std::string& certificate, const std::string& data) {
  writeFile(dir + "/signature.der", decoded(signature));
  writeFile(dir + "/certificate.der", decoded(certificate));
  const std::string command = "openssl x509 -inform DER -in " + dir + "/certificate.der -out " +
                              dir + "/certificate.pem && openssl cms -verify -binary -inform DER " +
                              "-in " + dir + "/signature.der -content " + data + " -CAfile " + dir +
                              "/certificate.pem -out /dev/null 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

std::string toBase64(const std::string& bytes) {
  return base64Encode(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                      static_cast<std::uint32_t>(bytes.size()));
}

std::string signatureOf(const std::string& container, const std::string& data) {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, 64-bit
  for (char c : data) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return toBase64("SIGNED:" + container + ":" + std::to_string(data.size()) + ":" + hex);
}

std::unique_ptr<JsonValue> parseAnswer(const std::string& body) {
  try {
    return JsonValue::parse(utf8ToWide(body).c_str());
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::optional<std::string> dataString(const std::string& body, const char16_t* name) {
  std::unique_ptr<JsonValue> answer = parseAnswer(body);
  const JsonValue* data = answer ? answer->child(u"data") : nullptr;
  const JsonValue* member = data != nullptr ? data->child(name) : nullptr;
  if (member == nullptr || !member->isString()) return std::nullopt;
  return wideToUtf8(member->asString());
}

Environment HostTest::environment(const Environment& extra) const {
  Environment entries = {"TMPDIR=" + tempPath(), "AVCM_FAKE_LOG=" + recordPath()};
  entries.insert(entries.end(), extra.begin(), extra.end());
  return entries;
}
