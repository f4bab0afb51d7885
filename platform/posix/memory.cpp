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
  auto begin = reinterpret_cast<std::uintptr_t>(data);
  std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
  std::uintptr_t last = (begin + bytes) & ~(kLargePage - 1);
  if (first >= last) return;
  (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace platform
