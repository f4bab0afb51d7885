#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

namespace {
constexpr std::uintptr_t kLargePage = 2 * 1024 * 1024;
}

void preferLargePages(void* data, std::size_t bytes) {
  if (bytes < 2 * kLargePage) return;
  // Only whole large pages inside the buffer can be advised.
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::size_t skip = (kLargePage - begin % kLargePage) % kLargePage;
  const std::size_t length = (bytes - skip) / kLargePage * kLargePage;
  if (length == 0) return;
  (void)madvise(static_cast<char*>(data) + skip, length, MADV_HUGEPAGE);
}

}  // namespace platform
