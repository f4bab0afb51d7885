#pragma once

#include <cstddef>
#include <string>

#include "platform/file_system.h"

// UTF-8 bytes to UTF-16 text, with results identical to utf8::utf8to16 into an
// empty string. The first bad sequence throws what utfcpp throws for it:
// utf8::not_enough_room, utf8::invalid_utf8 or utf8::invalid_code_point (all
// utf8::exception, declared in utfcpp's <utf8.h>). Zero bytes are ordinary
// characters.
std::u16string utf8ToWide(const std::string& bytes);
std::u16string utf8ToWide(const char* data, std::size_t size);

// What the UTF-16 to UTF-8 encoder does with an unpaired surrogate.
enum class LoneSurrogate {
  kThrow,         // throws utf8::invalid_utf16, as utf8::utf16to8 (frames, answers)
  kReplacement,   // writes U+FFFD (log records)
  kQuestionMark,  // writes '?' (the POSIX "ANSI code page", like Windows' default character)
};

// UTF-16 text to UTF-8 bytes; with kThrow the results are identical to
// utf8::utf16to8 into an empty string.
std::string wideToUtf8(const std::u16string& text, LoneSurrogate policy = LoneSurrogate::kThrow);
std::string wideToUtf8(const char16_t* data, std::size_t size,
                       LoneSurrogate policy = LoneSurrogate::kThrow);

// The number of bytes wideToUtf8 writes for the text under `policy` (with
// kThrow it throws where the encoder would).
std::size_t utf8Length(const std::u16string& text, LoneSurrogate policy);
std::size_t utf8Length(const char16_t* data, std::size_t size, LoneSurrogate policy);

// Text in the system's ANSI code page (UTF-8 on POSIX) to UTF-16 and back. No
// conversion error is raised: undecodable input becomes U+FFFD (on POSIX each
// maximal ill-formed subpart), an unrepresentable character the code page's
// default character ('?' for an unpaired surrogate on POSIX).
std::u16string ansiToWide(const std::string& text);
std::string wideToAnsi(const std::u16string& text);

// A path for the platform's file calls from UTF-16 text (unchanged on
// Windows, wideToAnsi on POSIX), and the UTF-16 text of such a path.
platform::Path toPath(const std::u16string& text);
std::u16string pathText(const platform::Path& path);
