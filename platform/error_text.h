#pragma once

#include <string>

namespace platform {

// The system's text for the calling thread's last error (errno on POSIX,
// GetLastError on Windows) with its number, for log records; read it right
// after the failing call. Text of the C locale on POSIX, English on Windows.
std::string lastErrorText();

}  // namespace platform
