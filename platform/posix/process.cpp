#include "platform/process.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

std::uint32_t processId() { return static_cast<std::uint32_t>(getpid()); }

std::uint32_t threadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

}  // namespace platform
