// "<file>:<line>" of a call, for the log lines of the device link that name where they come from.
#pragma once

#include <string>

namespace brisel::device {

// The defaults take the caller's file and line (std::source_location is not usable with clang 14 and
// libstdc++ 12; these builtins exist in both compilers).
std::string sourceLocationText(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE());

}  // namespace brisel::device
