#pragma once

#include <string>

namespace platform {

// A file system path as the system's file calls take it: UTF-16 on Windows,
// where every file call is a wide one, and bytes (UTF-8) on POSIX. text/
// converts request text to and from it.
// kPathSeparator is '\\' on Windows, '/' on POSIX.
#ifdef _WIN32
using Path = std::u16string;
inline constexpr char16_t kPathSeparator = u'\\';
#else
using Path = std::string;
inline constexpr char kPathSeparator = '/';
#endif

}  // namespace platform
