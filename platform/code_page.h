#pragma once

#include <string>

namespace platform {

// The "ANSI code page" of the system: CP_ACP on Windows, UTF-8 on POSIX,
// where text/ converts it itself.
#ifdef _WIN32
inline constexpr bool kAnsiCodePageIsUtf8 = false;
#else
inline constexpr bool kAnsiCodePageIsUtf8 = true;
#endif

// Windows only: CP_ACP text to UTF-16 and back with the system's
// converters; characters the code page lacks become its default character.
// Empty on failure; never throws.
std::u16string ansiToWide(const std::string& text);
std::string wideToAnsi(const std::u16string& text);

}  // namespace platform
