#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "platform/file_system.h"
#include "platform/named_lock.h"
#include "tests/support/temp_dir.h"

namespace {

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TMPDIR", tmp_.path().c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  TempDir tmp_;
};

// The runtime folder when private, else a folder of the user's own in TMPDIR or /tmp (someone
// else's folder there, open to others or a link, is refused: FailuresNameTheirCause).
TEST_F(PlatformTest, TemporaryPathIsAFolderPrivateToTheUser) {
  const std::string uid = std::to_string(::geteuid()), base = tmp_.path();
  const std::string runtime = base + "/run", shared = base + "/shared";
  for (const auto& folder : {runtime, shared}) ::mkdir(folder.c_str(), 0700);
  ::chmod(shared.c_str(), 0777);
  // XDG_RUNTIME_DIR (or none), TMPDIR, the folder expected.
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {runtime.c_str(), base, runtime + "/quorvant/"},
      {shared.c_str(), base + "/", base + "/quorvant-" + uid + "/"},
      {nullptr, "relative/dir", "/tmp/quorvant-" + uid + "/"}};
  for (const auto& [runtimeDir, tmpdir, expected] : cases) {
    SCOPED_TRACE(tmpdir);
    runtimeDir ? ::setenv("XDG_RUNTIME_DIR", runtimeDir, 1) : ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    platform::Path path;
    EXPECT_TRUE(platform::temporaryPath(path).ok());
    EXPECT_EQ(path, expected);
    struct stat info {};
    EXPECT_EQ(::lstat(expected.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
  }
}

// Each child appends "<", pauses and appends ">" under the lock, so interleaving shows two
// holders at once; then it dies holding the lock, which must not keep it from the others.
TEST_F(PlatformTest, NamedLockExcludesOtherProcessesAndDiesWithItsHolder) {
  std::string journal = tmp_.path() + "/journal";
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    pid_t child = fork();
    if (child == 0) {
      alarm(10);  // a lock still held by a dead process would hang here
      for (int round = 0; round < 5; ++round) {
        platform::NamedLock lock("quorvantTestLock");
        std::ofstream(journal, std::ios::app) << '<';
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::ofstream(journal, std::ios::app) << '>';
      }
      new platform::NamedLock("quorvantTestLock");  // never released by us
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << "killed by its alarm: a dead holder kept the lock";
  }
  std::ifstream in(journal);
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += "<>";
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected);
}

// Every failure names what failed, the call, the path and the cause; an existing file or a
// planted link is never opened, a directory (the host's log test) or FIFO is no input.
TEST_F(PlatformTest, FailuresNameTheirCause) {
  const std::string dir = tmp_.path(), taken = dir + "/taken", link = dir + "/link";
  const std::string host = tmp_.hostPath(), fifo = dir + "/fifo";
  std::ofstream(taken) << "x";
  ASSERT_EQ(::symlink((dir + "/nowhere").c_str(), link.c_str()), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto readFive = [&] {
    platform::InputFile file;
    platform::Status opened = file.open(taken);
    char buffer[5];
    return opened.ok() ? file.read(buffer, sizeof buffer) : opened;
  };
  const auto temporary = [] {
    platform::Path path;
    return platform::temporaryPath(path);
  };
  const std::pair<std::function<platform::Status()>, std::string> cases[] = {
      {[&] { return platform::NewFile().create(taken); },
       "create file: open(" + taken + "): File exists (errno 17)"},
      {[&] { return platform::NewFile().create(link); },
       "create file: open(" + link + "): File exists (errno 17)"},
      {[&] { return platform::InputFile().open(fifo); },
       "open file: fstat(" + fifo + "): a FIFO, not a regular file"},
      {[&] { return platform::InputFile().open(dir + "/none"); },
       "open file: open(" + dir + "/none): No such file or directory (errno 2)"},
      {readFive, "read file: read(" + taken + "): end of file after 1 of 5 bytes"},
      {[&] { return platform::removeFile(dir + "/none"); },
       "remove file: remove(" + dir + "/none): No such file or directory (errno 2)"},
      {[&] { return platform::createDirectory(taken); },
       "create directory: mkdir(" + taken + "): File exists (errno 17)"},
      {[&] { return platform::createDirectory(dir + "/none/sub"); },
       "create directory: mkdir(" + dir + "/none/sub): No such file or directory (errno 2)"},
      {[&] {
         ::chmod(host.c_str(), 0750);
         return temporary();
       },
       "temporary folder: lstat(" + host + "): open to others (mode 0750)"},
      {[&] {
         ::rmdir(host.c_str());
         ::symlink(dir.c_str(), host.c_str());
         return temporary();
       },
       "temporary folder: lstat(" + host + "): not a directory (a link or a file)"},
      {[&] {
         ::unlink(host.c_str());
         ::setenv("TMPDIR", taken.c_str(), 1);
         return temporary();
       },
       "temporary folder: mkdir(" + taken + "/" + tmp_.hostFolder() +
           "): Not a directory (errno 20)"},
      {[&] { return platform::NamedLock("quorvantTestLock").status(); },
       "temporary folder: mkdir(" + taken + "/" + tmp_.hostFolder() +
           "): Not a directory (errno 20)"},
      {[&] {
         ::setenv("TMPDIR", dir.c_str(), 1);
         ::mkdir(host.c_str(), 0700);
         ::mkdir((host + "/quorvantTestLock.lock").c_str(), 0700);
         return platform::NamedLock("quorvantTestLock").status();
       },
       "take lock: open(" + host + "/quorvantTestLock.lock): Is a directory (errno 21)"},
  };
  ASSERT_TRUE(platform::createDirectory(dir).ok()) << "an existing directory is no failure";
  ASSERT_TRUE(temporary().ok());
  for (const auto& [call, expected] : cases) {
    EXPECT_EQ(call().text(), expected);
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/nowhere"));
}

}  // namespace
