// UTF-8 validity of byte strings that come from peers or go out to them.
#pragma once

#include <string_view>

namespace brisel::common {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// no truncated sequence. The empty string is valid. Pure; any thread.
bool isValidUtf8(std::string_view bytes);

}  // namespace brisel::common
