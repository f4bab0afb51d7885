#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_system.h"

namespace platform {

namespace {

// flock on a lock file in the temporary directory: the kernel drops the lock
// when its holder dies, so a crashed host never blocks the others.
Status takeLock(const char* name, NativeHandle& handle) {
  // Without a private folder there is no lock file that others cannot hold.
  Path folder;
  Status status = temporaryPath(folder);
  if (!status.ok()) return status;
  Path path = folder + name + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Status::lastError("take lock", "open", path);
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    status = Status::lastError("take lock", "flock", path);
    ::close(fd);
    return status;
  }
  handle = fd;
  return {};
}

}  // namespace

NamedLock::NamedLock(const char* name) : status_(takeLock(name, handle_)) {}

NamedLock::~NamedLock() {
  if (handle_ == kInvalidHandle) return;
  flock(static_cast<int>(handle_), LOCK_UN);
  ::close(static_cast<int>(handle_));
}

}  // namespace platform
