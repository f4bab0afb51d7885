// One small request through the host's stages, without the pipe: UTF-8 body
// to UTF-16, parse, dispatch, answer tree, serialization, UTF-8 answer.
#include <benchmark/benchmark.h>

#include "text/text_convert.h"
#include "requests/processing_message.h"
#include "signing/data_signed.h"

namespace {

// About 250 bytes, the size of a typical certificate request.
const std::string kRequest =
    R"({"contentId":"b7c1e2d4-5f60-4a8b-9c0d-1e2f3a4b5c6d","data":{"requestAction":"getCertificate",)"
    R"("containerName":"Signer container 01","handleProvider":4097,"origin":"https://sign.example.org",)"
    R"("documentTitle":"Contract 2026-117","locale":"en-US","attempt":1}})";

void BM_ParseBuildSerialize(benchmark::State& state) {
  std::u16string text = utf8ToWide(kRequest);
  for (auto _ : state) {
    auto request = JsonValue::parse(text.c_str());
    std::u16string answer = buildResponse(*request, u"success", u"", u"", u"Q0VSVDpDMQ==", 0);
    benchmark::DoNotOptimize(answer);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kRequest.size()));
}
BENCHMARK(BM_ParseBuildSerialize);

// The host's own path for one message: parse, dispatch, answer tree built
// from the request's members, serialized. An unknown action keeps the
// library out of the figure.
void BM_ProcessingMessageWithoutLibrary(benchmark::State& state) {
  std::string body = kRequest;
  body.replace(body.find("getCertificate"), 14, "checkAnswerNow");
  std::u16string text = utf8ToWide(body);
  for (auto _ : state) {
    std::u16string answer = processingMessage(text);
    benchmark::DoNotOptimize(answer);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_ProcessingMessageWithoutLibrary);

void BM_WholeRequestWithTestDouble(benchmark::State& state) {
  std::u16string description;
  std::uint32_t handle = 0;
  vorna::DataSigned::openProvider(u"Signer container 01", description, handle);
  std::string body = kRequest;
  body.replace(body.find("4097"), 4, std::to_string(handle));
  for (auto _ : state) {
    std::string answer = wideToUtf8(processingMessage(utf8ToWide(body)));
    benchmark::DoNotOptimize(answer);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
  vorna::DataSigned::closeProvider(handle, description);
}
BENCHMARK(BM_WholeRequestWithTestDouble);

}  // namespace

BENCHMARK_MAIN();
