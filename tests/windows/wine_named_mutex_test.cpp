#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "tests/process/host_process.h"

extern char** environ;

namespace {

// A Windows process under Wine (named_mutex_holder.exe) that holds one named
// mutex from start() until release(). The hosts run in the same Wine prefix, so they share its names.
class MutexHolder {
 public:
  explicit MutexHolder(const std::string& name) : name_(name) {}
  ~MutexHolder() { release(); }
  MutexHolder(const MutexHolder&) = delete;
  MutexHolder& operator=(const MutexHolder&) = delete;

  // True once the holder reports that it owns the mutex.
  bool start() {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return false;
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(QUORVANT_HOST_LAUNCHER),
                    const_cast<char*>(QUORVANT_MUTEX_HOLDER_PATH), name_.data(), nullptr};
    bool spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    if (!spawned) pid_ = -1;
    std::string said;
    char c = 0;
    pollfd ready = {out[0], POLLIN, 0};
    while (spawned && c != '\n' &&
           ::poll(&ready, 1, static_cast<int>(kHostTimeout.count() * 1000)) > 0 &&
           ::read(out[0], &c, 1) == 1) {
      said += c;
    }
    ::close(out[0]);
    // Its standard output is in text mode: the line ends in CR LF.
    return said == "held\r\n";
  }

  // Ends the holder's input: it releases the mutex and exits.
  void release() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
    if (pid_ > 0) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

 private:
  std::string name_;
  pid_t pid_ = -1;
  int input_ = -1;
};

struct LockCase {
  const char* lock;
  const char* request;
  bool blocks;  // the host must wait for the holder
};

const std::string kSignContent =
    R"({"data":{"requestAction":"getSignature","containerName":"C1","contentFile":"aGVsbG8=",)"
    R"("workingDirectory":"WORK"}})";
const std::string kCertificate =
    R"({"data":{"requestAction":"getCertificate","containerName":"C1"}})";

using NamedMutexes = HostTest;

// The log name is drawn under one mutex at start-up, every data file under
// the other; a holder of either name stops the host there, a holder of
// another name does not.
TEST_F(NamedMutexes, HostWaitsForTheHolderOfItsMutex) {
  const LockCase cases[] = {
      {"quorvantCreateDataFileLock", "sign", true},
      {"quorvantCreateLogNameLock", "certificate", true},
      {"quorvantCreateDataFileLock", "certificate", false},
      {"quorvantSomeOtherLock", "sign", false},
  };
  for (const LockCase& c : cases) {
    SCOPED_TRACE(std::string(c.lock) + " held, " + c.request + " request");
    std::string request = std::string(c.request) == "sign" ? kSignContent : kCertificate;
    if (request.find("WORK") != std::string::npos) {
      request.replace(request.find("WORK"), 4, tempPath() + "/work");
    }
    MutexHolder holder(c.lock);
    ASSERT_TRUE(holder.start());
    HostProcess host(environment());
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(host.writeFrame(request));
    std::atomic<bool> answered{false};
    std::optional<std::string> answer;
    std::thread reader([&] {
      answer = host.readFrame();
      answered = true;
    });
    if (c.blocks) {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      EXPECT_FALSE(answered) << "answered while the mutex was held";
      holder.release();
    }
    reader.join();
    holder.release();
    EXPECT_EQ("success", dataString(answer.value_or(""), u"result").value_or("<no answer>"));
    host.closeInput();
    EXPECT_EQ(0, host.waitForExit()) << host.errorOutput();
  }
}

}  // namespace
