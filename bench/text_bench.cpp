// utf8ToWide and wideToUtf8 beside a plain utfcpp loop on the same text, and
// beside a plain copy of the result. Bytes processed are the UTF-8 size of the
// text in every benchmark and direction.
#include <benchmark/benchmark.h>
#include <utf8.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "text/text_convert.h"

namespace {

enum class Kind { kAsciiJson, kCyrillic };

// A getSignature request as the browser sends it: a short JSON head with a
// Cyrillic file name, then Base64 content up to `size` bytes.
std::string asciiJson(std::size_t size) {
  std::string text =
      "{\"contentId\":\"3f6c1a2e-77b0-4c1d-9a51-2b8e0f4d6c13\",\"data\":{\"requestAction\":"
      "\"getSignature\",\"handleProvider\":1048577,\"fileName\":\"договор.pdf\",\"contentFile\":\"";
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::mt19937 random(1);
  while (text.size() + 3 < size) text += alphabet[random() % 64];
  text += "\"}}";
  return text;
}

// Russian prose: words of two-byte letters between spaces and punctuation.
std::string cyrillic(std::size_t size) {
  const char* words[] = {"договор", "подпись",  "сертификат", "и",  "в",   "ключ",
                         "данные",  "проверка", "Республики", "не", "для", "открытый"};
  const char* separators[] = {" ", " ", " ", " ", ", ", ". "};
  std::mt19937 random(2);
  std::string text;
  for (;;) {
    std::string word = words[random() % 12];
    word += separators[random() % 6];
    if (text.size() + word.size() > size) break;
    text += word;
  }
  text.append(size - text.size(), ' ');
  return text;
}

const std::string& utf8Text(Kind kind, std::size_t size) {
  static std::map<std::pair<Kind, std::size_t>, std::string> cache;
  auto& text = cache[{kind, size}];
  if (text.empty()) text = kind == Kind::kAsciiJson ? asciiJson(size) : cyrillic(size);
  return text;
}

const std::u16string& wideText(Kind kind, std::size_t size) {
  static std::map<std::pair<Kind, std::size_t>, std::u16string> cache;
  auto& text = cache[{kind, size}];
  if (text.empty()) text = utf8ToWide(utf8Text(kind, size));
  return text;
}

template <Kind kind>
void Utf8ToWide(benchmark::State& state) {
  const std::string& bytes = utf8Text(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::u16string wide = utf8ToWide(bytes);
    benchmark::DoNotOptimize(wide.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

template <Kind kind>
void Utf8ToWideUtfcpp(benchmark::State& state) {
  const std::string& bytes = utf8Text(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::u16string wide;
    utf8::utf8to16(bytes.begin(), bytes.end(), std::back_inserter(wide));
    benchmark::DoNotOptimize(wide.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

template <Kind kind>
void WideToUtf8(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::u16string& wide = wideText(kind, size);
  for (auto _ : state) {
    std::string bytes = wideToUtf8(wide);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

template <Kind kind>
void WideToUtf8Utfcpp(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::u16string& wide = wideText(kind, size);
  for (auto _ : state) {
    std::string bytes;
    utf8::utf16to8(wide.begin(), wide.end(), std::back_inserter(bytes));
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// The floor for any conversion that returns a new string: allocating the
// result and writing it (for large texts mostly the kernel's fresh pages).
template <Kind kind>
void CopyWideResult(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::u16string& wide = wideText(kind, size);
  for (auto _ : state) {
    std::u16string copy(wide);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

template <Kind kind>
void CopyUtf8Result(benchmark::State& state) {
  const std::string& bytes = utf8Text(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string copy(bytes);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(250)->Arg(1 << 10)->Arg(1 << 20)->Arg(64 << 20);
}

BENCHMARK_TEMPLATE(Utf8ToWide, Kind::kAsciiJson)->Apply(sizes);
BENCHMARK_TEMPLATE(Utf8ToWideUtfcpp, Kind::kAsciiJson)->Apply(sizes);
BENCHMARK_TEMPLATE(Utf8ToWide, Kind::kCyrillic)->Apply(sizes);
BENCHMARK_TEMPLATE(Utf8ToWideUtfcpp, Kind::kCyrillic)->Apply(sizes);
BENCHMARK_TEMPLATE(CopyWideResult, Kind::kAsciiJson)->Apply(sizes);
BENCHMARK_TEMPLATE(CopyWideResult, Kind::kCyrillic)->Apply(sizes);
BENCHMARK_TEMPLATE(WideToUtf8, Kind::kAsciiJson)->Apply(sizes);
BENCHMARK_TEMPLATE(WideToUtf8Utfcpp, Kind::kAsciiJson)->Apply(sizes);
BENCHMARK_TEMPLATE(WideToUtf8, Kind::kCyrillic)->Apply(sizes);
BENCHMARK_TEMPLATE(WideToUtf8Utfcpp, Kind::kCyrillic)->Apply(sizes);
BENCHMARK_TEMPLATE(CopyUtf8Result, Kind::kAsciiJson)->Apply(sizes);
BENCHMARK_TEMPLATE(CopyUtf8Result, Kind::kCyrillic)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
