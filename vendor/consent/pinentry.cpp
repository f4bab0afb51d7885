#include "vendor/consent/pinentry.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace consent {
namespace {

// A person may take their time; pinentry is told the same limit, so it
// normally gives up first and says so.
constexpr int kPersonSeconds = 300;
// The greeting and every command that asks nobody anything.
constexpr int kProgramSeconds = 15;
// Low 16 bits of the GnuPG error codes pinentry answers with.
constexpr unsigned long kErrorCancelled = 99;
constexpr unsigned long kErrorNotConfirmed = 114;
constexpr unsigned long kErrorTimeout = 62;

// One protocol line; wiped, because a "D" line carries the secret.
struct Line {
  std::array<char, 1100> text{};
  std::size_t size = 0;
  Line() = default;
  ~Line() { OPENSSL_cleanse(text.data(), text.size()); }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  bool startsWith(const char* word) const {
    std::size_t length = std::strlen(word);
    return size >= length && std::memcmp(text.data(), word, length) == 0;
  }
};

// The pinentry child, talking over one socket (a closed peer gives EPIPE,
// never SIGPIPE). The destructor ends it within about a second.
class Pinentry {
 public:
  Pinentry() = default;
  ~Pinentry() { stop(); }
  Pinentry(const Pinentry&) = delete;
  Pinentry& operator=(const Pinentry&) = delete;

  // 0 on success, else the errno of the failure (ENOENT: no program).
  int start(const std::string& program) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return errno;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    int failed = ::posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failed != 0) {
      pid_ = -1;
      ::close(ends[0]);
      return failed;
    }
    fd_ = ends[0];
    return 0;
  }

  bool send(const std::string& line) {
    std::string bytes = line + "\n";
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // The next line without its newline; false at the end, on a line too long
  // or when none came within `seconds`.
  bool readLine(Line& line, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    line.size = 0;
    for (;;) {
      char c = 0;
      if (!readByte(c, deadline)) return false;
      if (c == '\n') return true;
      if (line.size + 1 >= line.text.size()) return false;
      line.text[line.size++] = c;
    }
  }

 private:
  bool readByte(char& c, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd ready{fd_, POLLIN, 0};
      int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
      if (polled < 0 && errno == EINTR) continue;
      if (polled <= 0) return false;
      ssize_t n = ::read(fd_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      return n == 1;
    }
  }

  void stop() {
    if (fd_ >= 0) {
      (void)send("BYE");
      ::close(fd_);
      fd_ = -1;
    }
    if (pid_ <= 0) return;
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) != 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

  pid_t pid_ = -1;
  int fd_ = -1;
};

std::string escaped(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || c == '%') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Appends the percent-decoded data of a "D " line to `secret`.
bool decodeData(const Line& line, Secret& secret) {
  for (std::size_t i = 2; i < line.size; ++i) {
    char c = line.text[i];
    if (c == '%') {
      int high = i + 2 < line.size ? hexValue(line.text[i + 1]) : -1;
      int low = high >= 0 ? hexValue(line.text[i + 2]) : -1;
      if (low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (!secret.append(c)) return false;
  }
  return true;
}

// Sends one command and reads up to its "OK" or "ERR"; "D" lines go to
// `secret` when given. kGiven for OK.
Answer transact(Pinentry& pinentry, const std::string& command, int seconds, Secret* secret,
                std::string& detail) {
  if (!pinentry.send(command)) {
    detail = "the pinentry program went away";
    return Answer::kNoAnswer;
  }
  Line line;
  while (pinentry.readLine(line, seconds)) {
    if (line.startsWith("OK")) return Answer::kGiven;
    if (line.startsWith("D ") && secret != nullptr) {
      if (!decodeData(line, *secret)) break;
    } else if (line.startsWith("ERR ")) {
      char* text = nullptr;
      unsigned long code = std::strtoul(line.text.data() + 4, &text, 10) & 0xFFFF;
      if (code == kErrorCancelled || code == kErrorNotConfirmed) return Answer::kCancelled;
      // An error line is "ERR code text"; the text never holds the secret.
      detail = code == kErrorTimeout ? "nobody answered the PIN dialog in time"
                                     : "the pinentry program failed:" +
                                           std::string(text, line.text.data() + line.size);
      return Answer::kNoAnswer;
    } else if (line.startsWith("INQUIRE")) {
      (void)pinentry.send("END");
    }
  }
  if (secret != nullptr) secret->wipe();
  detail = "the pinentry program did not answer";
  return Answer::kNoAnswer;
}

std::string program() {
  const char* chosen = std::getenv(kPinentryVariable);
  return chosen != nullptr && *chosen != '\0' ? chosen : "pinentry";
}

// Details reach web pages: the program's name, never its path.
std::string programName() {
  std::string path = program();
  return path.substr(path.rfind('/') + 1);
}

// Starts pinentry and sets up the dialog; then `final` asks the question.
Answer converse(const Prompt& prompt, const std::string& final, Secret* secret,
                std::string& detail) {
  Pinentry pinentry;
  if (int failed = pinentry.start(program())) {
    detail = "cannot start " + programName() + ": " + std::strerror(failed);
    return Answer::kNoPinentry;
  }
  Line greeting;
  if (!pinentry.readLine(greeting, kProgramSeconds) || !greeting.startsWith("OK")) {
    detail = "cannot start " + programName() + ": it does not speak the pinentry protocol";
    return Answer::kNoPinentry;
  }
  std::vector<std::string> setup = {"SETTITLE " + escaped(prompt.title),
                                    "SETDESC " + escaped(prompt.description),
                                    "SETTIMEOUT " + std::to_string(kPersonSeconds)};
  if (!prompt.prompt.empty()) setup.push_back("SETPROMPT " + escaped(prompt.prompt));
  if (!prompt.error.empty()) setup.push_back("SETERROR " + escaped(prompt.error));
  if (!prompt.repeat.empty()) setup.push_back("SETREPEAT " + escaped(prompt.repeat));
  // Terminal pinentries need the terminal; graphical ones ignore it.
  if (::isatty(2) != 0 && ::ttyname(2) != nullptr) {
    setup.push_back(std::string("OPTION ttyname=") + ::ttyname(2));
  }
  for (const std::string& command : setup) {
    // Options an older pinentry does not know are not fatal.
    if (transact(pinentry, command, kProgramSeconds, nullptr, detail) == Answer::kNoAnswer &&
        command.rfind("SETDESC", 0) == 0) {
      return Answer::kNoAnswer;
    }
  }
  return transact(pinentry, final, kPersonSeconds + kProgramSeconds, secret, detail);
}

}  // namespace

Answer askSecret(const Prompt& prompt, Secret& secret, std::string& detail) {
  secret.wipe();
  return converse(prompt, "GETPIN", &secret, detail);
}

Answer askConfirmation(const Prompt& prompt, std::string& detail) {
  return converse(prompt, "CONFIRM", nullptr, detail);
}

}  // namespace consent
