#include "common/logger.h"

#include <cstdio>

namespace brisel::common {

std::string_view levelName(LogLevels level) {
    switch (level) {
        case LogLevels::trace:
            return "trace";
        case LogLevels::debug:
            return "debug";
        case LogLevels::info:
            return "info";
        case LogLevels::notice:
            return "notice";
        case LogLevels::warning:
            return "warning";
        case LogLevels::error:
            return "error";
        case LogLevels::critical:
            return "critical";
    }
    return "unknown";
}

void Logger::commonLog(LogLevels level, std::string_view message) {
    if (level < LogLevels::info) {
        return;
    }
    std::string line = std::string(levelName(level)) + ": " + std::string(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

Logger& logger() {
    static Logger instance;
    return instance;
}

}  // namespace brisel::common
