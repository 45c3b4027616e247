// The service's log: one line per call, to standard output and appended to the log file.
#pragma once

#include <string>
#include <string_view>

namespace brisel::common {

// Levels in rising order of importance (0 to 6).
enum class LogLevels { trace = 0, debug = 1, info = 2, notice = 3, warning = 4, error = 5, critical = 6 };

// The printed name of a level ("info", "critical", ...).
std::string_view levelName(LogLevels level);

class Logger {
  public:
    // Any thread may call these; they never fail towards the caller.
    void commonLog(LogLevels level, std::string_view message);
    void log(LogLevels level, std::string_view message) { commonLog(level, message); }
    void trace(std::string_view message) { commonLog(LogLevels::trace, message); }
    void debug(std::string_view message) { commonLog(LogLevels::debug, message); }
    void info(std::string_view message) { commonLog(LogLevels::info, message); }
    void notice(std::string_view message) { commonLog(LogLevels::notice, message); }
    void warning(std::string_view message) { commonLog(LogLevels::warning, message); }
    void error(std::string_view message) { commonLog(LogLevels::error, message); }
    void critical(std::string_view message) { commonLog(LogLevels::critical, message); }
};

// The one global logger of the service (threshold info).
Logger& logger();

}  // namespace brisel::common
