#include "logging/random_string.h"

#include <cstdlib>

namespace {
constexpr char kNameAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
}

std::string randomString(int count) {
  std::string text;
  text.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
  // Names are drawn with rand(), which startLog seeds with the process
  // identifier; uniqueness rests on the existence test under the lock.
  // NOLINTNEXTLINE(cert-msc30-c,cert-msc50-cpp)
  for (int i = 0; i < count; ++i) text += kNameAlphabet[std::rand() % 62];
  return text;
}
