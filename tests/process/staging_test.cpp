#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/process/host_process.h"

namespace {

namespace fs = std::filesystem;

using StagedFiles = HostTest;

std::string signatureRequest(const std::string& container, const std::string& content,
                             const std::string& workingDirectory) {
  std::string request = R"({"data":{"requestAction":"getSignature","containerName":")" + container +
                        R"(","contentFile":")" + toBase64(content) + "\"";
  if (!workingDirectory.empty()) request += R"(,"workingDirectory":")" + workingDirectory + "\"";
  return request + "}}";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> entriesOf(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(directory, ignored)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// The signed message an answer carries, or a marker saying why there is none.
std::string signedMessageOf(const std::string& answer) {
  std::optional<std::string> signature = dataString(answer, u"signature");
  if (!signature) return "<no signature in " + answer + ">";
  return fromBase64(*signature).value_or("<bad Base64>");
}

struct StagingCase {
  const char* name;
  std::string container;
  std::string result;
  std::string description;  // empty on success
};

const StagingCase kOutcomes[] = {
    {"signed", "C1", "success", ""},
    {"signing failed", "sign-fails", "error", u8"Ошибка подписи: ключ недоступен"},
    {"no session", "missing-key", "error", "Key container not found"},
};

TEST_F(StagedFiles, WorkingDirectoryIsEmptyAfterTheAnswer) {
  const std::string content("staged \x00\xff bytes", 15);
  for (const StagingCase& c : kOutcomes) {
    for (const char* suffix : {"", "/"}) {
      SCOPED_TRACE(std::string(c.name) + ", working directory ending in '" + suffix + "'");
      const std::string work = tempPath() + "/work-" + c.container;
      fs::remove_all(work);
      HostRun run = ask({signatureRequest(c.container, content, work + suffix)});
      EXPECT_EQ(0, run.exitCode) << run.errors;
      ASSERT_EQ(1u, run.answers.size());
      EXPECT_EQ(c.result, dataString(run.answers[0], u"result").value_or(""));
      if (c.description.empty()) {
        EXPECT_EQ(signedMessage(c.container, content), signedMessageOf(run.answers[0]));
      } else {
        EXPECT_EQ(c.description, dataString(run.answers[0], u"description").value_or(""));
      }
      EXPECT_TRUE(fs::is_directory(work));
      EXPECT_EQ(std::vector<std::string>{}, entriesOf(work));
    }
  }
}

// Records the names of entries created and deleted directly inside one
// directory, in order, as "+name" and "-name".
class DirectoryWatch {
 public:
  explicit DirectoryWatch(const std::string& directory)
      : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) ::inotify_add_watch(fd_, directory.c_str(), IN_CREATE | IN_DELETE);
  }
  ~DirectoryWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  std::vector<std::string> changes() const {
    std::vector<std::string> seen;
    alignas(inotify_event) char buffer[16 * 1024];
    ssize_t got = 0;
    while (fd_ >= 0 && (got = ::read(fd_, buffer, sizeof buffer)) > 0) {
      for (char* at = buffer; at < buffer + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        seen.push_back((event->mask & IN_CREATE ? "+" : "-") + std::string(event->name));
        at += sizeof(inotify_event) + event->len;
      }
    }
    return seen;
  }

 private:
  int fd_;
};

// The separator between directory and name is added when missing and
// never doubled, so the file lands inside the working directory.
TEST_F(StagedFiles, DataFileIsNamedAndStagedInsideTheWorkingDirectory) {
  const std::regex dataFileName("Quorvant_[0-9A-Za-z]{7}\\.bin");
  const std::string work = tempPath() + "/work";
  ASSERT_TRUE(fs::create_directory(work));
  for (const char* suffix : {"", "/"}) {
    SCOPED_TRACE(std::string("working directory ending in '") + suffix + "'");
    DirectoryWatch watch(work);
    HostRun run = ask({signatureRequest("C1", "data", work + suffix)});
    EXPECT_EQ(0, run.exitCode) << run.errors;
    std::vector<std::string> changes = watch.changes();
    ASSERT_EQ(2u, changes.size());
    EXPECT_EQ("+", changes[0].substr(0, 1));
    EXPECT_TRUE(std::regex_match(changes[0].substr(1), dataFileName)) << changes[0];
    EXPECT_EQ("-" + changes[0].substr(1), changes[1]);
  }
}

TEST_F(StagedFiles, GivenFileIsNeverDeleted) {
  const std::string path = tempPath() + "/given.bin";
  const std::string content = "given data";
  std::ofstream(path, std::ios::binary) << content;
  for (const StagingCase& c : kOutcomes) {
    SCOPED_TRACE(c.name);
    HostRun run = ask({R"({"data":{"requestAction":"getSignature","containerName":")" +
                       c.container + R"(","fileDataPath":")" + path + R"("}})"});
    EXPECT_EQ(0, run.exitCode) << run.errors;
    ASSERT_EQ(1u, run.answers.size());
    EXPECT_EQ(c.result, dataString(run.answers[0], u"result").value_or(""));
    EXPECT_EQ(content, readFile(path));
  }
}

// Refused on its size alone, before anything is read: a 32-bit host too must
// open such a file and take its size (large-file interfaces).
TEST_F(StagedFiles, GivenFileOverTwoGiBIsTooLarge) {
  const std::string path = tempPath() + "/sparse.bin";
  std::ofstream(path, std::ios::binary).put('x');
  ASSERT_EQ(0, ::truncate(path.c_str(), off_t{1} << 31)) << "no large-file support";
  HostRun run = ask({R"({"data":{"requestAction":"getSignature","containerName":"C1",)"
                     R"("fileDataPath":")" + path + R"("}})"});
  ASSERT_EQ(1u, run.answers.size()) << run.errors;
  EXPECT_EQ("File data is too large", dataString(run.answers[0], u"description").value_or(""));
}

TEST_F(StagedFiles, GivenFileWinsOverContentAndNothingIsStaged) {
  const std::string path = tempPath() + "/given.bin";
  std::ofstream(path, std::ios::binary) << "given data";
  const std::string work = tempPath() + "/work";
  HostRun run = ask({R"({"data":{"requestAction":"getSignature","containerName":"C1",)"
                     R"("fileDataPath":")" + path + R"(","contentFile":"aGVsbG8=",)"
                     R"("workingDirectory":")" + work + R"("}})"});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(1u, run.answers.size());
  EXPECT_EQ(signedMessage("C1", "given data"), signedMessageOf(run.answers[0]));
  EXPECT_EQ("given data", readFile(path));
  EXPECT_FALSE(fs::exists(work));
}

TEST_F(StagedFiles, DefaultDirectoryIsPrivateAndEmptyAfterTheAnswer) {
  const std::string content = "default directory content";
  HostRun run = ask({signatureRequest("C1", content, "")});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(1u, run.answers.size());
  EXPECT_EQ(signedMessage("C1", content), signedMessageOf(run.answers[0]));
  const std::string directory = temp_.hostPath() + "/vorna_data_signed";
  struct stat info = {};
  ASSERT_EQ(0, ::stat(directory.c_str(), &info));
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(0700u, info.st_mode & 07777u);
  EXPECT_EQ(std::vector<std::string>{}, entriesOf(directory));
  // Logging is off: no log file appears beside it.
  for (const std::string& name : entriesOf(temp_.hostPath())) {
    EXPECT_FALSE(name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0 &&
                 name != "calls.log")
        << name;
  }
}

// Another local user holds a lock file of the old name in the shared base
// and owns a folder of the host's name there: the host neither waits nor
// leaves anything in that folder.
TEST_F(StagedFiles, AnotherUsersLockAndFolderNeitherBlockNorReceive) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
  ASSERT_EQ(0, ::chmod(tempPath().c_str(), 01777));
  const std::string folder = temp_.hostPath();
  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  const pid_t other = ::fork();
  if (other == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(1);
    for (const char* name : {"quorvantCreateLogNameLock", "quorvantCreateDataFileLock"}) {
      int fd = ::open((tempPath() + "/" + name + ".lock").c_str(), O_RDWR | O_CREAT, 0666);
      if (fd < 0 || ::flock(fd, LOCK_EX) != 0) _exit(1);
    }
    if (::mkdir(folder.c_str(), 0777) != 0 || ::write(ready[1], "x", 1) != 1) _exit(1);
    ::pause();
  }
  char byte = 0;
  ASSERT_EQ(1, ::read(ready[0], &byte, 1));
  HostRun run = ask({signatureRequest("C1", "data", "")});
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  ASSERT_EQ(1u, run.answers.size());
  EXPECT_EQ("Bad parameter fileData in action getSignature",
            dataString(run.answers[0], u"description").value_or(""));
  EXPECT_EQ(std::vector<std::string>{}, entriesOf(folder));
}

TEST_F(StagedFiles, WorkingDirectoryWithoutParentGetsNoFile) {
  const std::string work = tempPath() + "/missing-parent/work";
  HostRun run = ask({signatureRequest("C1", "data", work)});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(1u, run.answers.size());
  EXPECT_EQ("Bad parameter fileData in action getSignature",
            dataString(run.answers[0], u"description").value_or(""));
  EXPECT_FALSE(fs::exists(tempPath() + "/missing-parent"));
}

TEST_F(StagedFiles, FileIsRemovedWhenTheAnswerIsTooLarge) {
  const std::string work = tempPath() + "/work";
  std::string request = signatureRequest("C1", "data", work);
  request.insert(request.size() - 2, R"(,"pad":")" + std::string(1100000, 'x') + "\"");
  HostRun run = ask({request});
  EXPECT_EQ(0, run.exitCode) << run.errors;
  ASSERT_EQ(1u, run.answers.size());
  const std::string description = dataString(run.answers[0], u"description").value_or("");
  EXPECT_EQ(0u, description.rfind("Answer too large: ", 0)) << description;
  EXPECT_EQ(std::vector<std::string>{}, entriesOf(work));
}

// Binary content of a size and bytes of its own for every host and request.
std::string distinctContent(int host, int request) {
  std::mt19937 bytes(static_cast<unsigned>(host * 100 + request));
  std::string content(4096 + 97 * host + request, '\0');
  for (char& c : content) c = static_cast<char>(bytes() & 0xFF);
  return content;
}

TEST_F(StagedFiles, ConcurrentHostsShareOneWorkingDirectory) {
  constexpr int kHosts = 8;
  constexpr int kRequests = 6;
  const std::string work = tempPath() + "/shared";
  std::vector<std::string> inputs(kHosts);
  for (int host = 0; host < kHosts; ++host) {
    for (int request = 0; request < kRequests; ++request) {
      inputs[host] += frame(signatureRequest("C1", distinctContent(host, request), work));
    }
  }
  std::vector<HostRun> runs(kHosts);
  std::vector<std::thread> threads;
  const Environment shared = environment();
  for (int host = 0; host < kHosts; ++host) {
    threads.emplace_back([&, host] { runs[host] = runHost(inputs[host], shared); });
  }
  for (std::thread& thread : threads) thread.join();

  for (int host = 0; host < kHosts; ++host) {
    SCOPED_TRACE("host " + std::to_string(host));
    EXPECT_EQ(0, runs[host].exitCode) << runs[host].errors;
    ASSERT_EQ(static_cast<std::size_t>(kRequests), runs[host].answers.size());
    for (int request = 0; request < kRequests; ++request) {
      EXPECT_EQ(signedMessage("C1", distinctContent(host, request)),
                signedMessageOf(runs[host].answers[request]));
    }
  }
  EXPECT_EQ(std::vector<std::string>{}, entriesOf(work));
}

}  // namespace
