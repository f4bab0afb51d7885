// Parse and stringify of request-shaped documents, each beside RapidJSON's UTF-16 DOM in the same
// run. Bytes processed are bytes of UTF-16 text (two per code unit).

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "json/json_value.h"

// Heap bytes in use (glibc), so the benchmark can report what one parsed document holds. Only
// meaningful for the large documents: small blocks parked in the thread cache count as in use.
std::size_t heapBytesInUse() {
#if defined(__GLIBC__)
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#else
  return 0;
#endif
}

namespace {

using RapidUtf16 = rapidjson::UTF16<char16_t>;
using RapidDocument = rapidjson::GenericDocument<RapidUtf16>;
using RapidBuffer = rapidjson::GenericStringBuffer<RapidUtf16>;
using RapidWriter = rapidjson::Writer<RapidBuffer, RapidUtf16, RapidUtf16>;

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

// Random Base64 text ('+' and '/' included, as a browser sends them), padding at the end.
std::u16string base64Text(std::size_t units) {
  static constexpr char16_t kAlphabet[] =
      u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::mt19937 random(12345);
  std::u16string text(units, u'=');
  for (std::size_t i = 0; i + 2 < units; ++i) {
    text[i] = kAlphabet[random() & 63];
  }
  return text;
}

// A "getSignature" request with content whose whole text is totalUnits code units; for the
// largest document "contentFile" alone carries exactly 64 Mi units of Base64.
std::u16string requestText(std::size_t totalUnits, bool contentIsTotal) {
  const std::u16string head =
      u"{\"contentId\":\"1\",\"data\":{\"requestAction\":\"getSignature\","
      u"\"containerName\":\"C1\",\"handleProvider\":12345678,\"contentFile\":\"";
  const std::u16string tail = u"\"}}";
  const std::size_t content =
      contentIsTotal ? totalUnits : totalUnits - head.size() - tail.size();
  return head + base64Text(content) + tail;
}

// 0: 250-unit request, 1: 1 KiB, 2: 1 MiB, 3: 64 Mi units of Base64 content. Each is built
// once, when a benchmark first asks for it.
const std::u16string& document(std::int64_t which) {
  static std::unique_ptr<std::u16string> documents[4];
  auto& slot = documents[which];
  if (!slot) {
    switch (which) {
      case 0: slot = std::make_unique<std::u16string>(requestText(250, false)); break;
      case 1: slot = std::make_unique<std::u16string>(requestText(kKiB, false)); break;
      case 2: slot = std::make_unique<std::u16string>(requestText(kMiB, false)); break;
      default: slot = std::make_unique<std::u16string>(requestText(64 * kMiB, true)); break;
    }
  }
  return *slot;
}

void setBytes(benchmark::State& state, std::size_t units) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(units * sizeof(char16_t)));
  state.counters["units"] = static_cast<double>(units);
}

void BM_JsonValueParse(benchmark::State& state) {
  const std::u16string& text = document(state.range(0));
  for (auto _ : state) {
    auto value = JsonValue::parse(text.c_str());
    if (!value) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(value.get());
  }
  setBytes(state, text.size());
  // One more parse, outside the timing, to report what the parsed tree holds on the heap.
  if (text.size() < kMiB) return;
  const std::size_t before = heapBytesInUse();
  auto value = JsonValue::parse(text.c_str());
  state.counters["heap_bytes"] = static_cast<double>(heapBytesInUse() - before);
  const JsonValue* content = value->child(u"data")->child(u"contentFile");
  state.counters["content_capacity_units"] = static_cast<double>(content->asString().capacity());
}

void BM_RapidJsonParse(benchmark::State& state) {
  const std::u16string& text = document(state.range(0));
  for (auto _ : state) {
    RapidDocument parsed;
    parsed.Parse(text.c_str());
    if (parsed.HasParseError()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(&parsed);
  }
  setBytes(state, text.size());
  if (text.size() < kMiB) return;
  const std::size_t before = heapBytesInUse();
  RapidDocument parsed;
  parsed.Parse(text.c_str());
  state.counters["heap_bytes"] = static_cast<double>(heapBytesInUse() - before);
}

void BM_JsonValueStringify(benchmark::State& state) {
  const std::u16string& text = document(state.range(0));
  auto value = JsonValue::parse(text.c_str());
  std::size_t units = 0;
  for (auto _ : state) {
    std::u16string written = value->stringify();
    units = written.size();
    benchmark::DoNotOptimize(written.data());
  }
  setBytes(state, units);
}

void BM_RapidJsonWrite(benchmark::State& state) {
  const std::u16string& text = document(state.range(0));
  RapidDocument parsed;
  parsed.Parse(text.c_str());
  std::size_t units = 0;
  for (auto _ : state) {
    RapidBuffer buffer;
    RapidWriter writer(buffer);
    parsed.Accept(writer);
    units = buffer.GetSize() / sizeof(char16_t);  // GetSize counts bytes
    benchmark::DoNotOptimize(buffer.GetString());
  }
  setBytes(state, units);
}

void requestSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_JsonValueParse)->Apply(requestSizes);
BENCHMARK(BM_RapidJsonParse)->Apply(requestSizes);
BENCHMARK(BM_JsonValueStringify)->Apply(requestSizes);
BENCHMARK(BM_RapidJsonWrite)->Apply(requestSizes);

}  // namespace

BENCHMARK_MAIN();
