#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console.h"

namespace platform {

namespace {

constexpr const char* kTemporaryFolder = "temporary folder";

std::string octal(unsigned mode) {
  char text[8];
  (void)std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

const char* fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "a special file";
}

// A real directory (not a link) owned by the user with no access for others;
// the failure names the check that did not pass.
Status privateFolder(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return Status::lastError(kTemporaryFolder, "lstat", path);
  if (!S_ISDIR(info.st_mode)) {
    return Status(kTemporaryFolder, "lstat", path, "not a directory (a link or a file)");
  }
  if (info.st_uid != ::geteuid()) {
    return Status(kTemporaryFolder, "lstat", path,
                  "owned by user " + std::to_string(info.st_uid) + ", not by us");
  }
  if ((info.st_mode & 077) != 0) {
    return Status(kTemporaryFolder, "lstat", path,
                  "open to others (mode " + octal(info.st_mode) + ")");
  }
  return {};
}

std::string absoluteFolder(const char* variable) {
  const char* value = std::getenv(variable);
  std::string path = (value != nullptr && value[0] == '/') ? value : "";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

Status temporaryPath(Path& path) {
  path.clear();
  // A shared /tmp would let any local user block our locks or plant our
  // data directory, so we always work inside a folder of our own.
  std::string runtime = absoluteFolder("XDG_RUNTIME_DIR");
  std::string folder;
  if (!runtime.empty() && privateFolder(runtime).ok()) {
    folder = runtime + "/quorvant";
  } else {
    std::string base = absoluteFolder("TMPDIR");
    if (base.empty()) base = "/tmp";
    if (base.back() != '/') base += '/';
    folder = base + "quorvant-" + std::to_string(::geteuid());
  }
  // The cause of a failed mkdir would be lost in the check's "No such file".
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return Status::lastError(kTemporaryFolder, "mkdir", folder);
  }
  Status status = privateFolder(folder);
  if (status.ok()) path = folder + '/';
  return status;
}

Status createDirectory(const Path& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return {};
  Status status = Status::lastError("create directory", "mkdir", path);
  struct stat info;
  const bool isDirectory =
      errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  return isDirectory ? Status() : status;
}

bool pathExists(const Path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

Status removeFile(const Path& path) {
  if (std::remove(path.c_str()) == 0) return {};
  return Status::lastError("remove file", "remove", path);
}

NewFile::~NewFile() { (void)close(); }

Status NewFile::create(const Path& path) {
  (void)close();
  path_ = path;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Status::lastError("create file", "open", path);
  handle_ = fd;
  return {};
}

Status NewFile::write(const void* data, std::size_t size) {
  if (handle_ == kInvalidHandle) return Status("write file", "write", path_, "not open");
  if (writeAll(handle_, data, size)) return {};
  return Status::lastError("write file", "write", path_);
}

Status NewFile::close() {
  if (handle_ == kInvalidHandle) return {};
  int result = ::close(static_cast<int>(handle_));
  handle_ = kInvalidHandle;
  return result == 0 ? Status() : Status::lastError("close file", "close", path_);
}

InputFile::~InputFile() { close(); }

Status InputFile::open(const Path& path) {
  close();
  path_ = path;
  // O_NONBLOCK: opening a FIFO without a writer would wait for one for good.
  // Only a regular file is data; a device or pipe is refused at once.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Status::lastError("open file", "open", path);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    Status status = Status::lastError("open file", "fstat", path);
    ::close(fd);
    return status;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return Status("open file", "fstat", path,
                  std::string(fileKind(info.st_mode)) + ", not a regular file");
  }
  handle_ = fd;
  return {};
}

Status InputFile::size(std::uint64_t& bytes) {
  struct stat info;
  if (handle_ == kInvalidHandle) return Status("take file size", "fstat", path_, "not open");
  if (::fstat(static_cast<int>(handle_), &info) != 0) {
    return Status::lastError("take file size", "fstat", path_);
  }
  bytes = static_cast<std::uint64_t>(info.st_size);
  return {};
}

Status InputFile::read(void* buffer, std::size_t size) {
  if (handle_ == kInvalidHandle) return Status("read file", "read", path_, "not open");
  char* next = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    ssize_t got = ::read(static_cast<int>(handle_), next + total, size - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Status::lastError("read file", "read", path_);
    if (got == 0) {
      return Status(
          "read file", "read", path_,
          "end of file after " + std::to_string(total) + " of " + std::to_string(size) + " bytes");
    }
    total += static_cast<std::size_t>(got);
  }
  return {};
}

void InputFile::close() {
  if (handle_ == kInvalidHandle) return;
  ::close(static_cast<int>(handle_));
  handle_ = kInvalidHandle;
}

}  // namespace platform
