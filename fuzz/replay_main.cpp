// Runs a harness as a plain program over the inputs in the folders it is given, so ctest replays
// the corpus in every build. Every suffix of an input of up to 4 KiB is replayed too: one file
// holds many cases that each stop early. A failed check aborts, which fails the test.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void replay(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::size_t from = 0; from <= (bytes.size() <= 4096 ? bytes.size() : 0); ++from) {
    const std::string suffix = bytes.substr(from);  // exact size: a read past it is caught
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(suffix.data()), suffix.size());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i])) {
      if (!entry.is_regular_file()) continue;
      replay(entry.path());
      ++inputs;
    }
  }
  std::printf("%d inputs replayed\n", inputs);
  return inputs > 0 ? 0 : 1;
}
