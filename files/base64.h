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
