// The message loop fed arbitrary bytes as standard input, the vendor test double behind it: each
// answer is one whole frame of UTF-8 holding a JSON object, no more answers than frames, and no
// data file is left in the private temporary directory (the current one while an input runs).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.h"
#include "host/message_channel.h"
#include "host/message_loop.h"
#include "json/json_value.h"

namespace {

namespace fs = std::filesystem;

// Frames longer than the input by more than this fill memory it never reaches: they only slow.
constexpr std::uint64_t kMaxMissingBytes = 1u << 16;

fs::path gDirectory;
std::FILE* gAnswers = nullptr;

// The frames the host will read from stdin, or 0 for an input not to run.
std::size_t framesToRun(std::size_t size) {
  std::size_t frames = 0;
  for (std::uint32_t length; (length = readMessageSize()) != 0; ++frames) {
    const auto left = size - static_cast<std::size_t>(std::ftell(stdin));
    if (length <= kMaxFrameBytes && length > left + kMaxMissingBytes) return 0;
    discardMessage(length);
  }
  std::rewind(stdin);
  return frames;
}

// With the host's own frame reader (so stdin becomes the answers): a frame of invalid UTF-8
// throws, which ends the fuzzer.
void checkAnswers(std::size_t frames) {
  const long size = ::lseek(::fileno(gAnswers), 0, SEEK_END);
  std::rewind(gAnswers);
  stdin = gAnswers;
  long at = 0;
  for (std::uint32_t length; (length = readMessageSize()) != 0; --frames) {
    at += 4 + static_cast<long>(length);
    check(frames > 0 && at <= size);
    const std::unique_ptr<JsonValue> answer = JsonValue::parse(readMessage(length));
    check(answer != nullptr && answer->isObject());
  }
  check(at == size);
  std::rewind(gAnswers);
  check(::ftruncate(::fileno(gAnswers), 0) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (fs::temp_directory_path() / "quorvant-fuzz-XXXXXX").string();
  check(::mkdtemp(pattern.data()) != nullptr);
  gDirectory = pattern;
  ::setenv("TMPDIR", pattern.c_str(), 1);
  for (const char* name :
       {"XDG_RUNTIME_DIR", "AVCM_FAKE_FAULTS", "AVCM_FAKE_LOG", "AVCM_FAKE_STDOUT"}) {
    ::unsetenv(name);
  }
  gAnswers = std::tmpfile();
  check(gAnswers != nullptr);
  setMessageOutputHandle(::fileno(gAnswers));
  // The private directory goes when the fuzzer ends, normally or by a finding.
  check(std::atexit([] {
          std::error_code ignored;
          fs::remove_all(gDirectory, ignored);
        }) == 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Requests must not reach outside the private directory: no '/', ".." or escaped '.' or '/'.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (std::string_view outside : {"/", "..", "\\u002"}) {
    if (bytes.find(outside) != bytes.npos) return -1;
  }
  if (size == 0) return -1;
  std::vector<std::uint8_t> copy(data, data + size);
  FILE* const standardInput = stdin;
  stdin = ::fmemopen(copy.data(), copy.size(), "rb");
  check(stdin != nullptr);
  const std::size_t frames = framesToRun(size);
  if (frames > 0) {
    const fs::path home = fs::current_path();
    fs::current_path(gDirectory);
    check(runMessageLoop() == 0);
    fs::current_path(home);
  }
  check(std::fclose(stdin) == 0);
  if (frames > 0) checkAnswers(frames);
  stdin = standardInput;
  if (frames == 0) return -1;
  // No staged file survives its request; working directories may stay.
  for (const auto& entry : fs::recursive_directory_iterator(gDirectory)) {
    const std::string name = entry.path().filename().string();
    check(name.rfind("Quorvant_", 0) != 0 || entry.path().extension() != ".bin");
  }
  for (const auto& entry : fs::directory_iterator(gDirectory)) fs::remove_all(entry.path());
  return 0;
}
