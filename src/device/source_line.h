// "file:line" of a call site, for the log lines that name where a check failed.
#pragma once

#include <source_location>
#include <string>
#include <string_view>

namespace brisel::device {

// The file name (without its folders) and line of `where`, as "serial_port.cpp:42".
inline std::string sourceLine(std::source_location where = std::source_location::current()) {
    std::string_view file = where.file_name();
    if (auto slash = file.find_last_of('/'); slash != std::string_view::npos) {
        file.remove_prefix(slash + 1);
    }
    return std::string(file) + ":" + std::to_string(where.line());
}

}  // namespace brisel::device
