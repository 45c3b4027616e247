// The service's log: one line per call, to standard output and appended to the log file.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/file_stream.h"
#include "common/standard_output.h"

namespace brisel::common {

// Levels in rising order of importance (0 to 6); compared by raw value.
enum class LogLevels { trace = 0, debug = 1, info = 2, notice = 3, warning = 4, error = 5, critical = 6 };

// The printed name of a level ("info", "critical", ...).
std::string_view levelName(LogLevels level);

// The level of a raw value 0 to 6; none for any other number.
std::optional<LogLevels> logLevelFromRawValue(long rawValue);

// "yyyy-MM-dd'T'HH:mm:ss.SSSZ" in the machine's local time zone, for example
// "2024-03-05T14:07:09.042+0100". Thread-safe.
std::string formatLogTimestamp(std::chrono::system_clock::time_point moment);

// Receives every line that passes a logger's threshold: the level and the line as written, without
// its line end. Called on the logging thread; must not log through the same logger.
using LogCaptureSink = std::function<void(LogLevels level, std::string_view line)>;

// Writes "[" + time stamp + "] " + level name + ": " + message for every message at or above its
// threshold: to standard output (standardOutput()) and through its FileStream (when it has a file),
// both in the order of the calls and in the background, so that the caller waits for neither the disk
// nor the reader of standard output. All members may be called from any thread; logging never fails
// towards the caller.
class Logger {
  public:
    // Opens no file; the file is created by the first append when missing (its folder is not).
    Logger(std::string label, LogLevels threshold, std::optional<std::filesystem::path> filePath);

    const std::string& label() const { return loggerLabel; }
    LogLevels logLevel() const { return threshold; }
    // The file stream, or null for a logger that prints to standard output only.
    FileStream* stream() const { return fileStream.get(); }

    void commonLog(LogLevels level, std::string_view message);
    void log(LogLevels level, std::string_view message) { commonLog(level, message); }
    void trace(std::string_view message) { commonLog(LogLevels::trace, message); }
    void debug(std::string_view message) { commonLog(LogLevels::debug, message); }
    void info(std::string_view message) { commonLog(LogLevels::info, message); }
    void notice(std::string_view message) { commonLog(LogLevels::notice, message); }
    void warning(std::string_view message) { commonLog(LogLevels::warning, message); }
    void error(std::string_view message) { commonLog(LogLevels::error, message); }
    void critical(std::string_view message) { commonLog(LogLevels::critical, message); }

    // Installs (or, with an empty function, removes) the capture sink. For tests.
    void setCaptureSink(LogCaptureSink sink);
    // Waits until every line logged before the call is in the file and on standard output.
    void flush();

  private:
    const std::string loggerLabel;
    const LogLevels threshold;
    std::mutex sinkMutex;
    std::shared_ptr<const LogCaptureSink> captureSink;  // guarded by sinkMutex
    std::unique_ptr<FileStream> fileStream;
};

// The one global logger of the service: label "Socket Logger", threshold info, file logFilePath()
// as it is at first use. Created on first use (thread-safe) and kept until the process ends.
Logger& logger();

// Creates the global logger's folder and replaces its file by an empty one (prepareLogFile(path) of
// file_stream.h). The service calls this first thing, before anything is logged.
tl::expected<void, std::string> prepareLogFile();

}  // namespace brisel::common
