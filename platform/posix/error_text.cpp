#include "platform/error_text.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string lastErrorText() {
  const int error = errno;
  return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

}  // namespace platform
