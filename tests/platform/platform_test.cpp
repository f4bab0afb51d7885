#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/named_lock.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TMPDIR", tmp_.path().c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  void TearDown() override { ::unsetenv("TMPDIR"); }
  TempDir tmp_;
};

TEST_F(PlatformTest, TemporaryPathIsAFolderPrivateToTheUser) {
  const std::string uid = std::to_string(::geteuid()), base = tmp_.path();
  const std::string runtime = base + "/run", shared = base + "/shared";
  ::mkdir(runtime.c_str(), 0700);
  ::mkdir(shared.c_str(), 0700);
  ::chmod(shared.c_str(), 0777);
  struct Case {
    const char* runtimeDir;
    std::string tmpdir;
    std::string expected;
  };
  const Case cases[] = {{runtime.c_str(), base, runtime + "/quorvant/"},
                        {shared.c_str(), base + "/", base + "/quorvant-" + uid + "/"},
                        {"relative", base, base + "/quorvant-" + uid + "/"},
                        {nullptr, "relative/dir", "/tmp/quorvant-" + uid + "/"},
                        {nullptr, "", "/tmp/quorvant-" + uid + "/"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    c.runtimeDir ? ::setenv("XDG_RUNTIME_DIR", c.runtimeDir, 1) : ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", c.tmpdir.c_str(), 1);
    std::optional<platform::Path> path = platform::temporaryPath();
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, c.expected);
    struct stat info {};
    EXPECT_EQ(0, ::lstat(c.expected.c_str(), &info));
    EXPECT_EQ(info.st_mode & 07777, 0700u);
  }
}

// Each child appends "<" and, after a pause, ">" under the lock: any
// interleaving shows two holders at once.
TEST_F(PlatformTest, NamedLockExcludesOtherProcesses) {
  std::string journal = tmp_.path() + "/journal";
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    pid_t child = fork();
    if (child == 0) {
      for (int round = 0; round < 5; ++round) {
        platform::NamedLock lock("quorvantTestLock");
        std::ofstream(journal, std::ios::app) << '<';
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::ofstream(journal, std::ios::app) << '>';
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) waitpid(child, nullptr, 0);
  std::ifstream in(journal);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += "<>";
  EXPECT_EQ(text, expected);
}

TEST_F(PlatformTest, NamedLockOfADeadHolderIsFree) {
  EXPECT_EQ(runInChild([] {
              new platform::NamedLock("quorvantTestLock");  // never released by us
              return 0;
            }),
            0);
  int result = runInChild([] {
    alarm(5);  // a lock still held would hang here
    platform::NamedLock lock("quorvantTestLock");
    return 0;
  });
  EXPECT_EQ(result, 0);
}

TEST_F(PlatformTest, NewFileIsExclusiveAndPrivate) {
  std::string path = tmp_.path() + "/new.bin";
  platform::NewFile file;
  ASSERT_TRUE(file.create(path));
  EXPECT_TRUE(file.write("abc", 3));
  EXPECT_TRUE(file.close());
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, 3);

  platform::NewFile again;
  EXPECT_FALSE(again.create(path)) << "an existing file is never reopened";
}

TEST_F(PlatformTest, NewFileNeverFollowsAPlantedLink) {
  std::string target = tmp_.path() + "/target";
  std::string link = tmp_.path() + "/link";
  std::ofstream(target) << "keep";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  std::string dangling = tmp_.path() + "/dangling";
  ASSERT_EQ(::symlink((tmp_.path() + "/nowhere").c_str(), dangling.c_str()), 0);
  platform::NewFile file;
  EXPECT_FALSE(file.create(link));
  EXPECT_FALSE(file.create(dangling));
  EXPECT_FALSE(std::filesystem::exists(tmp_.path() + "/nowhere"));
  std::ifstream in(target);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "keep");
}

TEST_F(PlatformTest, InputFileReadsSizeAndBytes) {
  std::string path = tmp_.path() + "/in.bin";
  std::ofstream(path, std::ios::binary) << std::string("a\0b", 3);
  platform::InputFile file;
  ASSERT_TRUE(file.open(path));
  std::uint64_t size = 0;
  ASSERT_TRUE(file.size(size));
  EXPECT_EQ(size, 3u);
  char buffer[8] = {};
  EXPECT_EQ(file.read(buffer, sizeof buffer), 3u);
  EXPECT_EQ(std::string(buffer, 3), std::string("a\0b", 3));

  platform::InputFile directory;
  EXPECT_FALSE(directory.open(tmp_.path()));
}

TEST_F(PlatformTest, WritingToAClosedPipeFailsWithoutKillingTheProcess) {
  EXPECT_EQ(runInChild([] {
              platform::prepareStandardStreams();
              int fds[2];
              if (pipe(fds) != 0) return 2;
              close(fds[0]);
              return platform::writeAll(fds[1], "x", 1) ? 1 : 0;
            }),
            0);
}

TEST_F(PlatformTest, RedirectedStandardOutputReachesTheErrorHandle) {
  std::string path = tmp_.path() + "/err.txt";
  EXPECT_EQ(runInChild([path] {
              int err = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
              dup2(err, STDERR_FILENO);
              platform::NativeHandle saved = platform::saveStandardOutput();
              if (saved == platform::kInvalidHandle) return 1;
              if (!platform::redirectStandardOutput(platform::standardError())) return 2;
              if (::write(STDOUT_FILENO, "stray", 5) != 5) return 3;
              return 0;
            }),
            0);
  std::ifstream in(path);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "stray");
}

}  // namespace
