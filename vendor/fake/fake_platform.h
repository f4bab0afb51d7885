#pragma once

#include <string>

namespace avcm_fake {

// Writes `text` to the process's standard output twice, as a chatty library
// does: through the C stdio stream (flushed at once) and straight to
// descriptor 1. Write errors are ignored.
void echoToStandardOutput(const std::string& text);

// Converts UTF-8 text to the system's ANSI code page, which is UTF-8 itself on
// POSIX. Characters the code page lacks become its default character.
std::string ansiFromUtf8(const std::string& text);

}  // namespace avcm_fake
