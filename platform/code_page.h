#pragma once

#include <string>

namespace platform {

// Converts text in the system's ANSI code page (UTF-8 on POSIX) to UTF-16.
// Never throws: bytes that cannot be decoded become U+FFFD; empty on failure.
std::u16string ansiToWide(const std::string& text);

// Converts UTF-16 text to the ANSI code page (UTF-8 on POSIX). Never throws:
// characters the code page lacks (unpaired surrogates on POSIX) become the
// code page's default character ('?' on POSIX); empty on failure.
std::string wideToAnsi(const std::u16string& text);

}  // namespace platform
