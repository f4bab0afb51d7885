#include "platform/process.h"

#include <windows.h>

namespace platform {

std::uint32_t processId() { return GetCurrentProcessId(); }

std::uint32_t threadId() { return GetCurrentThreadId(); }

}  // namespace platform
