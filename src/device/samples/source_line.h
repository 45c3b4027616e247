// "file:line" of a call site, for the log lines that name where a check failed.
#pragma once

#include <string>
#include <string_view>

namespace brisel::device {

// The file name (without its folders) and line of the caller, as "serial_port.cpp:42". The compiler
// builtins stand in for std::source_location, which clang 14 cannot provide with this libstdc++.
inline std::string sourceLine(std::string_view file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (auto slash = file.find_last_of('/'); slash != std::string_view::npos) {
        file.remove_prefix(slash + 1);
    }
    return std::string(file) + ":" + std::to_string(line);
}

}  // namespace brisel::device
