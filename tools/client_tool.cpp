// quorvant_client: speaks the host's protocol from the command line. It
// starts the host, sends each request (JSON text from the arguments, or one
// per line of standard input) as one frame, closes the host's input, and
// prints every answer frame on a line of its own. Exit code: 0 when the
// host ended with 0, 1 otherwise, 2 on bad usage.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "json/json_value.h"
#include "text/text_convert.h"

extern char** environ;

namespace {

constexpr char kUsage[] =
    "usage: quorvant_client [--host PATH] [--origin ORIGIN] [--member NAME] [REQUEST...]\n"
    "  REQUEST        JSON text of one request; without any, one request per input line\n"
    "  --host PATH    the host to start (default: quorvant_host next to this program)\n"
    "  --origin TEXT  argument given to the host, as a browser gives the caller's origin\n"
    "  --member NAME  print only that string member of each answer's \"data\"\n";

struct Options {
  std::string host;
  std::string origin;
  std::string member;
  std::vector<std::string> requests;
};

std::string programDirectory() {
  char path[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  std::string text(path, static_cast<std::size_t>(length));
  return text.substr(0, text.rfind('/'));
}

bool parseOptions(int argc, char** argv, Options& out) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    std::string* target = word == "--host"     ? &out.host
                          : word == "--origin" ? &out.origin
                          : word == "--member" ? &out.member
                                               : nullptr;
    if (target == nullptr && word.rfind("--", 0) == 0) return false;
    if (target == nullptr) {
      out.requests.push_back(word);
    } else if (i + 1 < argc) {
      *target = argv[++i];
    } else {
      return false;
    }
  }
  if (out.host.empty()) out.host = programDirectory() + "/quorvant_host";
  return true;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

bool readAll(int fd, char* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(fd, into + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

std::string frame(const std::string& body) {
  auto length = static_cast<std::uint32_t>(body.size());
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return bytes + body;
}

// Sends the requests, then ends the host's input (the host then exits).
void sendRequests(int fd, const std::vector<std::string>& requests) {
  for (const std::string& request : requests) {
    if (!writeAll(fd, frame(request))) break;
  }
  if (requests.empty()) {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && !writeAll(fd, frame(line))) break;
    }
  }
  ::close(fd);
}

// The member's text (UTF-8), or an empty line when the answer lacks it.
std::string memberOf(const std::string& answer, const std::string& member) {
  std::unique_ptr<JsonValue> root = JsonValue::parse(utf8ToWide(answer).c_str());
  const JsonValue* data = root ? root->child(u"data") : nullptr;
  const JsonValue* value = data != nullptr ? data->child(utf8ToWide(member)) : nullptr;
  return value != nullptr && value->isString() ? wideToUtf8(value->asString()) : std::string();
}

void printAnswers(int fd, const std::string& member) {
  char header[4];
  while (readAll(fd, header, sizeof header)) {
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
      length |= std::uint32_t(static_cast<unsigned char>(header[i])) << (8 * i);
    std::string body(length, '\0');
    if (!readAll(fd, body.data(), length)) break;
    std::cout << (member.empty() ? body : memberOf(body, member)) << std::endl;
  }
}

pid_t startHost(const Options& options, int& input, int& output) {
  int toHost[2];
  int fromHost[2];
  if (::pipe2(toHost, O_CLOEXEC) != 0 || ::pipe2(fromHost, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
  std::vector<char*> argv{const_cast<char*>(options.host.c_str())};
  if (!options.origin.empty()) argv.push_back(const_cast<char*>(options.origin.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, options.host.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toHost[0]);
  ::close(fromHost[1]);
  input = toHost[1];
  output = fromHost[0];
  if (spawned != 0) {
    std::cerr << "quorvant_client: cannot start " << options.host << ": " << std::strerror(spawned)
              << "\n";
    return -1;
  }
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::cerr << kUsage;
    return 2;
  }
  (void)::signal(SIGPIPE, SIG_IGN);  // a host that dies early must not kill the client
  int input = -1;
  int output = -1;
  pid_t host = startHost(options, input, output);
  if (host < 0) return 1;
  std::thread writer(sendRequests, input, options.requests);
  printAnswers(output, options.member);
  writer.join();
  ::close(output);
  int status = 0;
  while (::waitpid(host, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
