#pragma once

#include <cstdint>

namespace platform {

// The identifier of the calling process.
std::uint32_t processId();

// The identifier of the calling thread, as log records show it.
std::uint32_t threadId();

}  // namespace platform
