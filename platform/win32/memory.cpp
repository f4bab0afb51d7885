#include "platform/memory.h"

namespace platform {

// Large pages need a privilege that a browser's host does not have.
void preferLargePages(void*, std::size_t) {}

}  // namespace platform
