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

// A real directory (not a link) owned by the user with no access for others.
bool isPrivateFolder(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

std::string absoluteFolder(const char* variable) {
  const char* value = std::getenv(variable);
  std::string path = (value != nullptr && value[0] == '/') ? value : "";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::optional<Path> temporaryPath() {
  // A shared /tmp would let any local user block our locks or plant our
  // data directory, so we always work inside a folder of our own.
  std::string runtime = absoluteFolder("XDG_RUNTIME_DIR");
  std::string folder;
  if (!runtime.empty() && isPrivateFolder(runtime)) {
    folder = runtime + "/quorvant";
  } else {
    std::string base = absoluteFolder("TMPDIR");
    if (base.empty()) base = "/tmp";
    if (base.back() != '/') base += '/';
    folder = base + "quorvant-" + std::to_string(::geteuid());
  }
  (void)::mkdir(folder.c_str(), 0700);
  if (!isPrivateFolder(folder)) return std::nullopt;
  return folder + '/';
}

bool createDirectory(const Path& path) { return ::mkdir(path.c_str(), 0700) == 0; }

bool pathExists(const Path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool removeFile(const Path& path) { return std::remove(path.c_str()) == 0; }

NewFile::~NewFile() { close(); }

bool NewFile::create(const Path& path) {
  close();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool NewFile::write(const void* data, std::size_t size) {
  return handle_ != kInvalidHandle && writeAll(handle_, data, size);
}

bool NewFile::close() {
  if (handle_ == kInvalidHandle) return true;
  int status = ::close(static_cast<int>(handle_));
  handle_ = kInvalidHandle;
  return status == 0;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const Path& path) {
  close();
  // O_NONBLOCK: opening a FIFO without a writer would wait for one for good.
  // Only a regular file is data; a device or pipe is refused at once.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = error;
    return false;
  }
  handle_ = fd;
  return true;
}

bool InputFile::size(std::uint64_t& bytes) {
  struct stat info;
  if (handle_ == kInvalidHandle || ::fstat(static_cast<int>(handle_), &info) != 0) return false;
  bytes = static_cast<std::uint64_t>(info.st_size);
  return true;
}

std::size_t InputFile::read(void* buffer, std::size_t size) {
  if (handle_ == kInvalidHandle) return 0;
  char* next = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    ssize_t got = ::read(static_cast<int>(handle_), next + total, size - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

void InputFile::close() {
  if (handle_ == kInvalidHandle) return;
  ::close(static_cast<int>(handle_));
  handle_ = kInvalidHandle;
}

}  // namespace platform
