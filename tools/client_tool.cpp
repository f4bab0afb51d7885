// quorvant_client: speaks the host's protocol from the command line. It
// starts the host, sends each request (JSON text from the arguments, or one
// per line of standard input) as one frame, closes the host's input, and
// prints every answer frame on a line of its own. Exit code: 0 when the
// host ended with 0, 1 otherwise, 2 on bad usage. With --file it signs a
// file of any size as a browser's extension sends one: in parts through
// "stageContent", then the request with "stagedContent"; its exit code is
// then 0 only when that request succeeded too.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "json/json_value.h"
#include "text/base64.h"
#include "text/text_convert.h"

extern char** environ;

namespace {

constexpr char kUsage[] =
    "usage: quorvant_client [--host PATH] [--origin ORIGIN] [--member NAME] [REQUEST...]\n"
    "       quorvant_client --file PATH [--host PATH] [--origin ORIGIN] [--member NAME] [REQUEST]\n"
    "  REQUEST        JSON text of one request; without any, one request per input line\n"
    "  --file PATH    stage the file in parts, then send REQUEST (default: a getSignature\n"
    "                 without a container) with its \"stagedContent\"; print that answer\n"
    "  --host PATH    the host to start (default: quorvant_host next to this program)\n"
    "  --origin TEXT  argument given to the host, as a browser gives the caller's origin\n"
    "  --member NAME  print only that string member of each answer's \"data\"\n";

struct Options {
  std::string host;
  std::string origin;
  std::string member;
  std::string file;
  std::vector<std::string> requests;
};

// 384 KiB of file, 512 KiB of Base64: a part every browser sends quickly.
constexpr std::size_t kPartBytes = 384 * 1024;

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
                          : word == "--file"   ? &out.file
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
  return out.file.empty() || out.requests.size() <= 1;
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

// The next answer's body; false at the end of the host's output.
bool readAnswer(int fd, std::string& body) {
  char header[4];
  if (!readAll(fd, header, sizeof header)) return false;
  std::uint32_t length = 0;
  for (int i = 0; i < 4; ++i)
    length |= std::uint32_t(static_cast<unsigned char>(header[i])) << (8 * i);
  body.assign(length, '\0');
  return readAll(fd, body.data(), length);
}

void printAnswer(const std::string& body, const std::string& member) {
  std::cout << (member.empty() ? body : memberOf(body, member)) << std::endl;
}

void printAnswers(int fd, const std::string& member) {
  std::string body;
  while (readAnswer(fd, body)) printAnswer(body, member);
}

// `request` (JSON text) with "stagedContent" set in its "data"; empty when it
// is not a JSON object.
std::string withStagedContent(const std::string& request, const std::string& name) {
  std::unique_ptr<JsonValue> root = JsonValue::parse(utf8ToWide(request).c_str());
  if (!root || !root->isObject()) return {};
  JsonObject members = root->takeObject();
  JsonObject data;
  auto found = members.find(u"data");
  if (found != members.end() && found->second && found->second->isObject()) {
    data = found->second->takeObject();
  }
  data[u"stagedContent"] = std::make_unique<JsonValue>(utf8ToWide(name));
  members[u"data"] = std::make_unique<JsonValue>(std::move(data));
  return wideToUtf8(JsonValue(std::move(members)).stringify());
}

// Sends the file in parts, each once the previous one is staged, then the
// request naming the staged file; prints the last answer (the request's, or
// the failing part's). True when that answer is a success.
bool signFile(int input, int output, const Options& options) {
  std::ifstream file(options.file, std::ios::binary);
  if (!file) {
    std::cerr << "quorvant_client: cannot read " << options.file << "\n";
    return false;
  }
  std::string request = options.requests.empty()
                            ? std::string(R"({"data":{"requestAction":"getSignature"}})")
                            : options.requests.front();
  if (withStagedContent(request, "").empty()) {
    std::cerr << "quorvant_client: the request is not a JSON object\n";
    return false;
  }
  std::string name, answer;
  std::vector<char> part(kPartBytes);
  do {
    file.read(part.data(), static_cast<std::streamsize>(part.size()));
    const auto size = static_cast<std::uint32_t>(file.gcount());
    if (file.bad() || (size == 0 && !name.empty())) break;
    const std::string body =
        R"({"data":{"requestAction":"stageContent","contentFile":")" +
        base64Encode(reinterpret_cast<const std::uint8_t*>(part.data()), size) +
        (name.empty() ? "\"" : R"(","stagedContent":")" + name + "\"") + "}}";
    if (!writeAll(input, frame(body)) || !readAnswer(output, answer)) return false;
    name = memberOf(answer, "stagedContent");
    if (memberOf(answer, "result") != "success") {
      printAnswer(answer, options.member);
      return false;
    }
  } while (file);
  if (file.bad()) {
    std::cerr << "quorvant_client: cannot read " << options.file << "\n";
    return false;
  }
  if (!writeAll(input, frame(withStagedContent(request, name))) || !readAnswer(output, answer)) {
    return false;
  }
  printAnswer(answer, options.member);
  return memberOf(answer, "result") == "success";
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
  if (!options.file.empty()) {
    bool signedFile = signFile(input, output, options);
    ::close(input);
    ::close(output);
    int status = 0;
    while (::waitpid(host, &status, 0) < 0 && errno == EINTR) {
    }
    return signedFile && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
  }
  std::thread writer(sendRequests, input, options.requests);
  printAnswers(output, options.member);
  writer.join();
  ::close(output);
  int status = 0;
  while (::waitpid(host, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
