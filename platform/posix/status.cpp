#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace platform {

Status::Status(const char* what, const char* call, const Path& path, std::string cause)
    : what_(what), call_(call), path_(path), cause_(std::move(cause)) {}

Status Status::lastError(const char* what, const char* call, const Path& path) {
  const int error = errno;
  return Status(what, call, path,
                std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")");
}

}  // namespace platform
