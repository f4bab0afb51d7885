#pragma once

#include <cstddef>

#include "platform/native_handle.h"
#include "platform/status.h"

namespace platform {

// Puts standard input into binary mode and makes a closed output pipe an
// ordinary write error instead of a fatal signal.
void prepareStandardStreams();

// Sets `handle` to the handle the process's standard output had at start-up,
// usable after standard output itself is redirected.
Status saveStandardOutput(NativeHandle& handle);

// Sets `handle` to the standard error handle.
Status standardError(NativeHandle& handle);

// Makes `handle` the process's standard output, so stray writes by any code
// (the vendor library included) land there.
Status redirectStandardOutput(NativeHandle handle);

// Writes all `size` bytes to `handle`, retrying partial and interrupted
// writes. False when the handle refuses them (for instance a closed pipe);
// the cause is then the thread's last error.
bool writeAll(NativeHandle handle, const void* data, std::size_t size);

}  // namespace platform
