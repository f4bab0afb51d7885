#include "platform/console.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

namespace platform {

void prepareStandardStreams() {
  // POSIX streams are always binary. A browser that goes away closes the
  // answer pipe; that must be a failed write, never a killed host.
  (void)std::signal(SIGPIPE, SIG_IGN);
}

Status saveStandardOutput(NativeHandle& handle) {
  // A duplicate keeps the browser's pipe reachable after descriptor 1 is
  // pointed at standard error; close-on-exec keeps it out of children.
  int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  handle = fd < 0 ? kInvalidHandle : fd;
  return fd < 0 ? Status::lastError("save standard output", "fcntl", "1") : Status();
}

Status standardError(NativeHandle& handle) {
  const bool open = fcntl(STDERR_FILENO, F_GETFD) >= 0;
  handle = open ? STDERR_FILENO : kInvalidHandle;
  return open ? Status() : Status::lastError("get standard error", "fcntl", "2");
}

Status redirectStandardOutput(NativeHandle handle) {
  if (dup2(static_cast<int>(handle), STDOUT_FILENO) >= 0) return {};
  return Status::lastError("redirect standard output", "dup2", "1");
}

bool writeAll(NativeHandle handle, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = ::write(static_cast<int>(handle), next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace platform
