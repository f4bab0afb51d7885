#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/code_page.h"
#include "platform/console.h"

namespace platform {

const char16_t kPathSeparator = u'/';

std::u16string temporaryPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir != nullptr && dir[0] == '/') ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return ansiToWide(path);
}

bool createDirectory(const std::u16string& path) {
  return ::mkdir(wideToAnsi(path).c_str(), 0700) == 0;
}

bool isPrivateDirectory(const std::u16string& path) {
  // A trailing '/' would make lstat follow a link; look at the link itself.
  std::string name = wideToAnsi(path);
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  struct stat info;
  if (::lstat(name.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
}

bool pathExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool removeFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

NewFile::~NewFile() { close(); }

bool NewFile::create(const std::string& path) {
  close();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool NewFile::write(const void* data, std::size_t size) {
  return handle_ >= 0 && writeAll(handle_, data, size);
}

bool NewFile::close() {
  if (handle_ < 0) return true;
  int status = ::close(static_cast<int>(handle_));
  handle_ = -1;
  return status == 0;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::u16string& path) {
  close();
  int fd = ::open(wideToAnsi(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // A directory opens on POSIX but not on Windows; refuse it the same way.
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool InputFile::size(std::uint64_t& bytes) {
  struct stat info;
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) return false;
  // A pipe or a device has no size to take.
  if (!S_ISREG(info.st_mode)) return false;
  bytes = static_cast<std::uint64_t>(info.st_size);
  return true;
}

std::size_t InputFile::read(void* buffer, std::size_t size) {
  if (handle_ < 0) return 0;
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
  if (handle_ < 0) return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform
