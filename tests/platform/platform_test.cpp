#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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

// Someone else's folder (open to others, or a link) in the shared base is never used.
TEST_F(PlatformTest, TemporaryPathIsAFolderPrivateToTheUser) {
  const std::string uid = std::to_string(::geteuid()), base = tmp_.path();
  const std::string runtime = base + "/run", shared = base + "/shared", open = base + "/open",
                    link = base + "/link";
  for (const auto& folder : {runtime, shared, open, link, open + "/quorvant-" + uid}) {
    ::mkdir(folder.c_str(), 0700);
  }
  ::chmod(shared.c_str(), 0777);
  ::chmod((open + "/quorvant-" + uid).c_str(), 0755);
  ::symlink(runtime.c_str(), (link + "/quorvant-" + uid).c_str());
  // XDG_RUNTIME_DIR (or none), TMPDIR, the folder expected (empty: none).
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {runtime.c_str(), base, runtime + "/quorvant/"},
      {shared.c_str(), base + "/", base + "/quorvant-" + uid + "/"},
      {nullptr, "relative/dir", "/tmp/quorvant-" + uid + "/"},
      {nullptr, open, ""},
      {nullptr, link, ""}};
  for (const auto& [runtimeDir, tmpdir, expected] : cases) {
    SCOPED_TRACE(tmpdir);
    runtimeDir ? ::setenv("XDG_RUNTIME_DIR", runtimeDir, 1) : ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    EXPECT_EQ(platform::temporaryPath().value_or(""), expected);
    struct stat info {};
    EXPECT_TRUE(expected.empty() || ::lstat(expected.c_str(), &info) == 0);
    EXPECT_TRUE(expected.empty() || (info.st_mode & 07777) == 0700u);
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

// An existing file or a planted link is never opened and a directory is no input.
TEST_F(PlatformTest, NewFileIsExclusiveFollowsNoLinkAndInputFileOpensOnlyFiles) {
  const std::string taken = tmp_.path() + "/taken", link = tmp_.path() + "/link";
  std::ofstream(taken) << "x";
  ASSERT_EQ(::symlink((tmp_.path() + "/nowhere").c_str(), link.c_str()), 0);
  EXPECT_FALSE(platform::NewFile().create(taken));
  EXPECT_FALSE(platform::NewFile().create(link));
  EXPECT_FALSE(std::filesystem::exists(tmp_.path() + "/nowhere"));
  EXPECT_FALSE(platform::InputFile().open(tmp_.path()));
}

}  // namespace
