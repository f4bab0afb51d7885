#pragma once

#include <cstddef>

#include "platform/native_handle.h"

namespace platform {

// Puts standard input into binary mode and makes a closed output pipe an
// ordinary write error instead of a fatal signal.
void prepareStandardStreams();

// The handle the process's standard output had at start-up, usable after
// standard output itself is redirected; kInvalidHandle on failure.
NativeHandle saveStandardOutput();

// The standard error handle; kInvalidHandle on failure.
NativeHandle standardError();

// Makes `handle` the process's standard output, so stray writes by any code
// (the vendor library included) land there. False on failure.
bool redirectStandardOutput(NativeHandle handle);

// Writes all `size` bytes to `handle`, retrying partial and interrupted
// writes. False when the handle refuses them (for instance a closed pipe).
bool writeAll(NativeHandle handle, const void* data, std::size_t size);

}  // namespace platform
