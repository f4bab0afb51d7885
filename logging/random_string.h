#pragma once

#include <string>

// `count` characters drawn from digits, upper- and lower-case letters, each
// as the alphabet's character at rand() % 62. Never seeds the generator:
// startLog seeds it once per process.
std::string randomString(int count);
