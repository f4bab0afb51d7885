#pragma once

#include <cstddef>

// Internal to the JSON library: the scans that let the parser and the serializer copy runs of
// plain UTF-16 units in bulk instead of one unit at a time.

// The first unit at or after p that ends a run of plain string text for the parser: '"', '\\'
// or any unit below U+0020 (TAB and the terminating U+0000 included). p points into a
// NUL-terminated text, so the scan always stops.
const char16_t* findStringDelimiter(const char16_t* p);

// The first unit in [p, end) that the serializer does not copy as it is: '"', '\\', '/', a unit
// below U+0020 or a surrogate (paired or not); end when there is none.
const char16_t* findEscapeCandidate(const char16_t* p, const char16_t* end);

// The length in units of the serializer's escaped form of [p, end), quotation marks excluded:
// 2 for '"', '\\', '/' and the five named control units, 6 for any other unit below U+0020 and
// for an unpaired surrogate, 1 for everything else (a valid pair is 2).
std::size_t escapedLength(const char16_t* p, const char16_t* end);
