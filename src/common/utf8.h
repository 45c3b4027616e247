// UTF-8 validity of byte strings that come from peers or go out to them, and lenient walking over
// UTF-8 text that may hold invalid bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace brisel::common {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// no truncated sequence. The empty string is valid. Pure; any thread.
bool isValidUtf8(std::string_view bytes);

// The byte offset just after the first `count` characters of `bytes`, or bytes.size() when it holds
// fewer. A character is one well-formed UTF-8 sequence (one Unicode code point); every byte that
// does not start a well-formed sequence (stray continuation, overlong form, surrogate, value above
// U+10FFFF, sequence cut short) counts as one character of its own.
std::size_t byteOffsetAfterCharacters(std::string_view bytes, std::size_t count);

// The length (1 to 4) of the well-formed UTF-8 sequence that starts at `offset` (< bytes.size()), or 0
// when the byte there starts none (see byteOffsetAfterCharacters).
std::size_t wellFormedSequenceLength(std::string_view bytes, std::size_t offset);

}  // namespace brisel::common
