#pragma once

#include <string>

namespace avcm_fake {

// Writes `text` to standard output twice, as a chatty library does: through
// the C stdio stream (flushed at once) and straight to descriptor 1.
void echoToStandardOutput(const std::string& text);

// UTF-8 text in the system's ANSI code page (UTF-8 itself on POSIX).
std::string ansiFromUtf8(const std::string& text);

}  // namespace avcm_fake
