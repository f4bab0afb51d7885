#include "tests/process/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "text/text_convert.h"

extern char** environ;

#ifndef QUORVANT_HOST_LAUNCHER
#define QUORVANT_HOST_LAUNCHER ""
#endif
#ifndef QUORVANT_HOST_EMULATOR
#define QUORVANT_HOST_EMULATOR ""
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int millisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
}

// The value of a Base64 alphabet character; -1 for anything else, '=' included.
int base64Value(char c) {
  for (int value = 0; value < 64; ++value) {
    if (kBase64Alphabet[value] == c) return value;
  }
  return -1;
}

// The little-endian length prefix starting at `at`.
std::uint32_t lengthAt(const std::string& bytes, std::size_t at) {
  std::uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  }
  return length;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The test's own environment keeps the sanitizer and loader settings; what
// the host and the double read is set per test only.
std::vector<std::string> childEnvironment(const Environment& extra) {
  // A host under a launcher takes its temporary folder from the launcher
  // (Wine's user folder), while Wine finds its running server through the
  // test's own TMPDIR: changing it would start a new server for every host.
  const bool launched = QUORVANT_HOST_LAUNCHER[0] != '\0';
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    if ((!launched && (startsWith(text, "TMPDIR=") || startsWith(text, "XDG_RUNTIME_DIR="))) ||
        startsWith(text, "AVCM_FAKE_")) {
      continue;
    }
    entries.push_back(text);
  }
  for (const std::string& entry : extra) {
    if (!launched || !startsWith(entry, "TMPDIR=")) entries.push_back(entry);
  }
  return entries;
}

void closeDescriptor(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The child must meet SIGPIPE with its default action (this process ignores
// it), or a host that forgot to ignore it would pass for a careful one.
bool spawnHost(pid_t& pid, int (&in)[2], int (&out)[2], int (&err)[2], char** envp) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t noneBlocked;
  sigemptyset(&noneBlocked);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &noneBlocked);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  // A Windows host runs under its launcher (wine64), which passes the pipes
  // on as the host's standard handles.
  char* direct[] = {const_cast<char*>(QUORVANT_HOST_PATH), nullptr};
  char* launched[] = {const_cast<char*>(QUORVANT_HOST_LAUNCHER),
                      const_cast<char*>(QUORVANT_HOST_PATH), nullptr};
  char** argv = QUORVANT_HOST_LAUNCHER[0] != '\0' ? launched : direct;
  // A 32-bit x86 host runs under the emulator that runs the test (linux-x86).
  char* emulated[] = {const_cast<char*>(QUORVANT_HOST_EMULATOR),
                      const_cast<char*>(QUORVANT_HOST_PATH), nullptr};
  if (QUORVANT_HOST_EMULATOR[0] != '\0') argv = emulated;
  int status = posix_spawn(&pid, argv[0], &actions, &attributes, argv, envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return status == 0;
}

}  // namespace

HostProcess::HostProcess(const Environment& environment) {
  // A host that dies must fail a write, not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  // Close-on-exec keeps one host's pipe ends out of hosts that other threads
  // start, so each host sees the end of its own input.
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
      ::pipe2(err, O_CLOEXEC) != 0) {
    for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) closeDescriptor(*fd);
    return;
  }
  std::vector<std::string> entries = childEnvironment(environment);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  if (!spawnHost(pid_, in, out, err, envp.data())) pid_ = -1;
  closeDescriptor(in[0]);
  closeDescriptor(out[1]);
  closeDescriptor(err[1]);
  input_ = in[1];
  output_ = out[0];
  ::fcntl(input_, F_SETFL, ::fcntl(input_, F_GETFL) | O_NONBLOCK);
  errorReader_ = std::thread(&HostProcess::drainErrors, this, err[0]);
}

HostProcess::~HostProcess() {
  closeDescriptor(input_);
  if (pid_ > 0 && !exitCode_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  closeDescriptor(output_);
  if (errorReader_.joinable()) errorReader_.join();
}

void HostProcess::drainErrors(int fd) {
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard<std::mutex> lock(errorMutex_);
    errors_.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
}

bool HostProcess::write(const std::string& bytes) {
  const char* next = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    if (input_ < 0) return false;
    pollfd ready = {input_, POLLOUT, 0};
    int count = ::poll(&ready, 1, static_cast<int>(kHostTimeout.count() * 1000));
    if (count < 0 && errno == EINTR) continue;
    if (count == 0) timedOut_ = true;
    if (count <= 0) return false;
    ssize_t written = ::write(input_, next, left);
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (written < 0) return false;
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

bool HostProcess::writeFrame(const std::string& body) { return write(frame(body)); }

void HostProcess::closeInput() { closeDescriptor(input_); }

void HostProcess::closeOutput() {
  closeDescriptor(output_);
  outputEnded_ = true;
}

bool HostProcess::readMore(Clock::time_point deadline) {
  while (!outputEnded_) {
    if (Clock::now() >= deadline) {
      timedOut_ = true;
      return false;
    }
    pollfd ready = {output_, POLLIN, 0};
    int count = ::poll(&ready, 1, millisecondsUntil(deadline));
    if (count < 0 && errno == EINTR) continue;
    if (count == 0) continue;
    char buffer[64 * 1024];
    ssize_t got = count < 0 ? -1 : ::read(output_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      outputEnded_ = true;
      return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }
  return false;
}

std::optional<std::string> HostProcess::readFrame() {
  for (;;) {
    if (pending_.size() >= 4) {
      const std::uint32_t length = lengthAt(pending_, 0);
      if (pending_.size() - 4 >= length) {
        std::string body = pending_.substr(4, length);
        pending_.erase(0, 4 + static_cast<std::size_t>(length));
        return body;
      }
    }
    if (!readMore(Clock::now() + kHostTimeout)) return std::nullopt;
  }
}

std::string HostProcess::exchange(const std::string& input) {
  std::size_t sent = 0;
  Clock::time_point deadline = Clock::now() + kHostTimeout;
  while (input_ >= 0 && sent < input.size() && !timedOut_) {
    pollfd ready[2] = {{input_, POLLOUT, 0}, {outputEnded_ ? -1 : output_, POLLIN, 0}};
    int count = ::poll(ready, 2, millisecondsUntil(deadline));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) break;
    if (count == 0) timedOut_ = Clock::now() >= deadline;
    if (ready[1].revents != 0 && readMore(deadline)) deadline = Clock::now() + kHostTimeout;
    if (ready[0].revents & (POLLERR | POLLHUP)) break;
    if (!(ready[0].revents & POLLOUT)) continue;
    ssize_t written = ::write(input_, input.data() + sent, input.size() - sent);
    if (written < 0 && errno != EINTR && errno != EAGAIN) break;
    if (written > 0) {
      sent += static_cast<std::size_t>(written);
      deadline = Clock::now() + kHostTimeout;
    }
  }
  closeInput();
  while (readMore(Clock::now() + kHostTimeout)) {
  }
  std::string output;
  output.swap(pending_);
  return output;
}

int HostProcess::waitForExit() {
  if (exitCode_) return *exitCode_;
  if (pid_ <= 0) return -1;
  Clock::time_point deadline = Clock::now() + kHostTimeout;
  int status = 0;
  pid_t done = 0;
  for (;;) {
    done = ::waitpid(pid_, &status, WNOHANG);
    if (done < 0 && errno == EINTR) continue;
    if (done != 0 || Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (done == 0) {
    timedOut_ = true;
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exitCode_ = -1;
  } else if (done < 0) {
    exitCode_ = -1;
  } else {
    exitCode_ = WIFEXITED(status)     ? WEXITSTATUS(status)
                : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                      : -1;
  }
  if (errorReader_.joinable()) errorReader_.join();
  return *exitCode_;
}

// Read from the kernel's view of the process: a spawned child's rusage would
// also count the memory of this process, which it shared until exec.
long HostProcess::peakResidentKiB() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (startsWith(line, "VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

std::string HostProcess::errorOutput() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return errors_;
}

std::string lengthBytes(std::uint32_t length) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return bytes;
}

std::string frame(const std::string& body) {
  return lengthBytes(static_cast<std::uint32_t>(body.size())) + body;
}

std::vector<std::string> splitFrames(const std::string& output, std::string& rest) {
  std::vector<std::string> frames;
  std::size_t at = 0;
  while (output.size() - at >= 4) {
    const std::uint32_t length = lengthAt(output, at);
    if (output.size() - at - 4 < length) break;
    frames.push_back(output.substr(at + 4, length));
    at += 4 + static_cast<std::size_t>(length);
  }
  rest = output.substr(at);
  return frames;
}

HostRun runHost(const std::string& input, const Environment& environment) {
  HostRun run;
  HostProcess host(environment);
  if (!host.started()) {
    run.errors = "the host could not be started: " QUORVANT_HOST_PATH;
    return run;
  }
  std::string output = host.exchange(input);
  run.exitCode = host.waitForExit();
  run.answers = splitFrames(output, run.rest);
  run.errors = host.errorOutput();
  if (host.timedOut()) run.errors += "\n[the host made no progress for the time limit]";
  return run;
}

std::string toBase64(const std::string& bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    text += kBase64Alphabet[(group >> 18) & 63];
    text += kBase64Alphabet[(group >> 12) & 63];
    text += i + 1 < bytes.size() ? kBase64Alphabet[(group >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kBase64Alphabet[group & 63] : '=';
  }
  return text;
}

std::optional<std::string> fromBase64(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int padding = !last || text[i + 3] != '=' ? 0 : text[i + 2] == '=' ? 2 : 1;
    std::uint32_t group = 0;
    for (int j = 0; j < 4; ++j) {
      int value = j < 4 - padding ? base64Value(text[i + j]) : 0;
      if (value < 0) return std::nullopt;
      group = (group << 6) | static_cast<std::uint32_t>(value);
    }
    bytes += static_cast<char>((group >> 16) & 0xFF);
    if (padding < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) bytes += static_cast<char>(group & 0xFF);
  }
  return bytes;
}

std::string signedMessage(const std::string& container, const std::string& data) {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, 64-bit
  for (char c : data) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return "SIGNED:" + container + ":" + std::to_string(data.size()) + ":" + hex;
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
  try {
    return wideToUtf8(member->asString());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<std::string> libraryCalls(const std::string& recordPath) {
  std::vector<std::string> calls;
  std::ifstream in(recordPath);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name, first;
    words >> name >> first;
    if (name == "exit" || name == "AvCmGetErrorInfo") continue;
    calls.push_back(name == "AvCmInit" ? name + " " + first : name);
  }
  return calls;
}

std::string libraryExitLine(const std::string& recordPath) {
  std::ifstream in(recordPath);
  std::string line, exit;
  while (std::getline(in, line)) {
    if (startsWith(line, "exit ")) exit = line;
  }
  return exit;
}

Environment HostTest::environment(const Environment& extra) const {
  Environment entries = {"TMPDIR=" + tempPath(), "AVCM_FAKE_LOG=" + recordPath()};
  entries.insert(entries.end(), extra.begin(), extra.end());
  return entries;
}

HostRun HostTest::run(const std::string& input, const Environment& extra) const {
  return runHost(input, environment(extra));
}

HostRun HostTest::ask(const std::vector<std::string>& requests, const Environment& extra) const {
  std::string input;
  for (const std::string& request : requests) input += frame(request);
  return run(input, extra);
}
