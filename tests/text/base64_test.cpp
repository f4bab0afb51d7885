#include "text/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Round trips, stops at foreign characters and UTF-16 input are checked by
// fuzz/base64_fuzzer.cpp against the literal algorithm over its corpus.
namespace {

std::string encode(const std::vector<std::uint8_t>& bytes) {
  return base64Encode(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

TEST(Base64Encode, PadsTheLastGroupAndUsesTheWholeAlphabet) {
  const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
      {{0x41}, "QQ=="},
      {{0x41, 0x42}, "QUI="},
      {{0xFF, 0xFF, 0xFF}, "////"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(encode(bytes), text);
  std::vector<std::uint8_t> all;  // each 6-bit value once, in order
  for (std::uint32_t v = 0; v < 64; v += 4) {
    const std::uint32_t group = v << 18 | (v + 1) << 12 | (v + 2) << 6 | (v + 3);
    for (int shift : {16, 8, 0}) all.push_back(static_cast<std::uint8_t>(group >> shift));
  }
  EXPECT_EQ(encode(all), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

}  // namespace
