#pragma once

#include <cstddef>

// Internal to the JSON library: the serializer's number text.

// Upper bound of the units formatNumber writes ("-1.23456789012346e-308" is 22).
constexpr std::size_t kMaxNumberTextLength = 24;

// Writes a finite value as the general form with 15 significant digits (rounded half up from 17
// digits; exponent form below 1e-4 and from 1e15 on, as e, sign and three digits) into out, which
// holds at least kMaxNumberTextLength units, ASCII only, in any locale. Returns the units written.
std::size_t formatNumber(double value, char16_t* out);
