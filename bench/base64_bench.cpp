// base64Encode and base64Decode beside OpenSSL's EVP_EncodeBlock and
// EVP_DecodeBlock on the same data. Bytes processed are the input's size:
// raw bytes for encoding, Base64 text for decoding.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "text/base64.h"

namespace {

const std::vector<std::uint8_t>& rawBytes(std::size_t size) {
  static std::map<std::size_t, std::vector<std::uint8_t>> cache;
  auto& bytes = cache[size];
  if (bytes.empty()) {
    std::mt19937 random(static_cast<unsigned>(size));
    bytes.resize(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

const std::string& base64Text(std::size_t size) {
  static std::map<std::size_t, std::string> cache;
  auto& text = cache[size];
  if (text.empty()) {
    const auto& bytes = rawBytes(size);
    text = base64Encode(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
  return text;
}

void Base64Encode(benchmark::State& state) {
  const auto& bytes = rawBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string text = base64Encode(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// OpenSSL writes into a caller's buffer: the reference gets a fresh string
// too, as the host would need one.
void OpenSslEncodeBlock(benchmark::State& state) {
  const auto& bytes = rawBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), bytes.data(),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void Base64Decode(benchmark::State& state) {
  const auto& text = base64Text(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::uint8_t> bytes = base64Decode(text);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void OpenSslDecodeBlock(benchmark::State& state) {
  const auto& text = base64Text(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
    const int length =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    bytes.resize(static_cast<std::size_t>(length));
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void sizes(benchmark::internal::Benchmark* b) { b->Arg(1 << 10)->Arg(1 << 20)->Arg(48 << 20); }

BENCHMARK(Base64Encode)->Apply(sizes);
BENCHMARK(OpenSslEncodeBlock)->Apply(sizes);
BENCHMARK(Base64Decode)->Apply(sizes);
BENCHMARK(OpenSslDecodeBlock)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
