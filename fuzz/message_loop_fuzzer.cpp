// The whole message loop fed an arbitrary byte stream as its standard input,
// with the vendor test double behind it. Every answer must be one whole frame
// of valid UTF-8 holding a JSON object, no more answers than frames, and no
// data file may be left on disk. Data files go to a private temporary
// directory, which is also the current directory while an input runs.
#include <fcntl.h>
#include <sys/mman.h>
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

#include "host/message_channel.h"
#include "host/message_loop.h"
#include "json/json_value.h"
#include "text/text_convert.h"

namespace {

namespace fs = std::filesystem;

// A frame this much longer than the input left makes the host allocate and
// fill memory the input never reaches; such inputs only slow the search down.
constexpr std::uint64_t kMaxMissingBytes = 1u << 16;

fs::path gDirectory;
int gOutput = -1;
int gHome = -1;

void check(bool condition) {
  if (!condition) std::abort();
}

std::uint32_t lengthAt(const std::uint8_t* data) {
  return data[0] | (std::uint32_t{data[1]} << 8) | (std::uint32_t{data[2]} << 16) |
         (std::uint32_t{data[3]} << 24);
}

// Requests must not write or read outside the private directory: an input
// that could name an absolute or parent path (a '/', "..", or an escape of
// '.' or '/') is not run.
bool staysInside(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  return bytes.find('/') == bytes.npos && bytes.find("..") == bytes.npos &&
         bytes.find("\\u002") == bytes.npos;
}

// Walks the frames as the host will read them; false for an input not to run.
bool isRunnable(const std::uint8_t* data, std::size_t size, std::size_t& frames) {
  std::size_t at = 0;
  frames = 0;
  while (size - at >= 4) {
    const std::uint32_t length = lengthAt(data + at);
    at += 4;
    if (length == 0) break;
    ++frames;
    const std::size_t left = size - at;
    if (length > kMaxFrameBytes) {
      at += length < left ? length : left;
      continue;
    }
    if (length > left + kMaxMissingBytes) return false;
    at += length < left ? length : left;
  }
  if (size - at > 0 && size - at < 4) ++frames;  // a cut-off length still reads as one
  return true;
}

std::string takeOutput() {
  std::string output;
  off_t size = ::lseek(gOutput, 0, SEEK_END);
  output.resize(static_cast<std::size_t>(size));
  check(::pread(gOutput, output.data(), output.size(), 0) == size);
  check(::ftruncate(gOutput, 0) == 0);
  check(::lseek(gOutput, 0, SEEK_SET) == 0);
  return output;
}

void checkAnswers(const std::string& output, std::size_t frames) {
  std::size_t at = 0, answers = 0;
  while (at < output.size()) {
    check(output.size() - at >= 4);
    const std::uint32_t length =
        lengthAt(reinterpret_cast<const std::uint8_t*>(output.data() + at));
    at += 4;
    check(length > 0 && output.size() - at >= length);
    std::unique_ptr<JsonValue> answer =
        JsonValue::parse(utf8ToWide(output.substr(at, length)).c_str());
    check(answer != nullptr && answer->isObject());
    at += length;
    ++answers;
  }
  check(answers <= frames);
}

// No staged file survives its request; working directories may stay.
void checkAndClearDirectory() {
  for (const auto& entry : fs::recursive_directory_iterator(gDirectory)) {
    const std::string name = entry.path().filename().string();
    check(name.rfind("Quorvant_", 0) != 0 || entry.path().extension() != ".bin");
  }
  for (const auto& entry : fs::directory_iterator(gDirectory)) fs::remove_all(entry.path());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (fs::temp_directory_path() / "quorvant-fuzz-XXXXXX").string();
  check(::mkdtemp(pattern.data()) != nullptr);
  gDirectory = pattern;
  ::setenv("TMPDIR", pattern.c_str(), 1);
  ::unsetenv("XDG_RUNTIME_DIR");
  ::unsetenv("AVCM_FAKE_FAULTS");
  ::unsetenv("AVCM_FAKE_LOG");
  ::unsetenv("AVCM_FAKE_STDOUT");
  gOutput = ::memfd_create("answers", MFD_CLOEXEC);
  gHome = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  check(gOutput >= 0 && gHome >= 0);
  setMessageOutputHandle(gOutput);
  // The private directory goes when the fuzzer ends, normally or by a finding.
  check(std::atexit([] {
          std::error_code ignored;
          fs::remove_all(gDirectory, ignored);
        }) == 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t frames = 0;
  if (size == 0 || !staysInside(data, size) || !isRunnable(data, size, frames)) return -1;
  std::vector<std::uint8_t> copy(data, data + size);
  FILE* input = ::fmemopen(copy.data(), copy.size(), "rb");
  check(input != nullptr);
  FILE* const standardInput = stdin;
  stdin = input;
  check(::chdir(gDirectory.c_str()) == 0);
  check(runMessageLoop() == 0);
  check(::fchdir(gHome) == 0);
  stdin = standardInput;
  check(std::fclose(input) == 0);
  checkAnswers(takeOutput(), frames);
  checkAndClearDirectory();
  return 0;
}
