#pragma once

#include <cstdint>

namespace platform {

// An operating-system handle: a HANDLE on Windows, a file descriptor on
// POSIX. kInvalidHandle marks "none" for every kind of handle.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kInvalidHandle = -1;

}  // namespace platform
