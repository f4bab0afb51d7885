#pragma once

#include <cstddef>

namespace platform {

// Asks the system to back a large, not yet touched buffer with large pages
// where it can: the first touch of fresh memory then costs one fault per
// large page instead of one per small page. Only a hint; small buffers and
// systems without the feature are left as they are.
void preferLargePages(void* data, std::size_t bytes);

}  // namespace platform
