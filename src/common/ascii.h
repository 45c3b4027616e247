// ASCII letter case for protocol text (URL schemes and hosts, header names, address prefixes).
// Only 'A' to 'Z' change; every other byte, UTF-8 included, is kept as it is, whatever the locale.
#pragma once

#include <string>
#include <string_view>

namespace brisel::common {

// `character` with 'A' to 'Z' turned into 'a' to 'z'. Pure; any thread.
char asciiLower(char character);

// A copy of `text` with 'A' to 'Z' turned into 'a' to 'z'. Pure; any thread.
std::string asciiLower(std::string_view text);

// True when `first` and `second` have the same length and differ at most in ASCII letter case.
// Pure; any thread.
bool equalsIgnoringAsciiCase(std::string_view first, std::string_view second);

}  // namespace brisel::common
