#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Encodes `length` bytes at `bytes` as Base64 (RFC 4648 section 4 alphabet,
// '=' padding, no line breaks). Reads the buffer only; the caller keeps it.
std::string base64Encode(const std::uint8_t* bytes, std::uint32_t length);

// Decodes the leading run of alphabet characters of `text`, which ends at the
// first '=' or any other character outside the alphabet (bytes >= 0x80 too);
// the rest is ignored. Never fails: unusable input gives an empty array.
std::vector<std::uint8_t> base64Decode(const std::string& text);

// Decodes UTF-16 text as base64Decode decodes its conversion to the ANSI code
// page, without the conversion. Every code page maps ASCII to itself, so the
// result is the same whenever the run of alphabet characters ends at an ASCII
// unit or at the end; `exact` is false when it ended at another unit, which a
// code page might map to an alphabet character: then only the converted text
// tells the result.
std::vector<std::uint8_t> base64DecodeWide(const std::u16string& text, bool& exact);
