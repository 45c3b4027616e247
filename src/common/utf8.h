// UTF-8 checks: validity of byte strings that come from peers or go out to them, and lenient walking
// over text that may hold invalid bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace brisel::common {

// The byte offset just after the first `count` characters of `bytes`, or bytes.size() when it holds
// fewer. A character is one well-formed UTF-8 sequence (one Unicode code point); every byte that
// does not start a well-formed sequence (stray continuation, overlong form, surrogate, value above
// U+10FFFF, sequence cut short) counts as one character of its own.
std::size_t byteOffsetAfterCharacters(std::string_view bytes, std::size_t count);

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// no truncated sequence. The empty string is valid. Pure; any thread.
bool isValidUtf8(std::string_view bytes);

}  // namespace brisel::common
