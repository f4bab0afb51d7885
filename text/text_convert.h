#pragma once

#include <cstddef>
#include <string>

// UTF-8 bytes to UTF-16 text, with results identical to utf8::utf8to16 into an
// empty string. The first bad sequence throws what utfcpp throws for it:
// utf8::not_enough_room, utf8::invalid_utf8 or utf8::invalid_code_point (all
// utf8::exception, declared in utfcpp's <utf8.h>). Zero bytes are ordinary
// characters.
std::u16string utf8ToWide(const std::string& bytes);
std::u16string utf8ToWide(const char* data, std::size_t size);

// UTF-16 text to UTF-8 bytes, with results identical to utf8::utf16to8 into an
// empty string. An unpaired surrogate throws utf8::invalid_utf16.
std::string wideToUtf8(const std::u16string& text);
std::string wideToUtf8(const char16_t* data, std::size_t size);

// Text in the ANSI code page (UTF-8 on POSIX) to UTF-16 and back, through
// platform::ansiToWide / platform::wideToAnsi. No conversion error is raised:
// undecodable input becomes U+FFFD, an unrepresentable character the code
// page's default character ('?' on POSIX).
std::u16string ansiToWide(const std::string& text);
std::string wideToAnsi(const std::u16string& text);
