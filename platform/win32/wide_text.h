#pragma once

#include <string>

namespace platform {

// UTF-16 text in the Windows code page `codePage` (CP_ACP, CP_UTF8); empty
// when the text is empty or the system cannot convert it.
std::string wideToCodePage(const std::u16string& text, unsigned codePage);

}  // namespace platform
