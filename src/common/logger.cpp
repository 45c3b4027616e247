#include "common/logger.h"

#include <ctime>
#include <utility>

#include "common/paths.h"

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

std::optional<LogLevels> logLevelFromRawValue(long rawValue) {
    if (rawValue < 0 || rawValue > static_cast<long>(LogLevels::critical)) {
        return std::nullopt;
    }
    return static_cast<LogLevels>(rawValue);
}

std::string formatLogTimestamp(std::chrono::system_clock::time_point moment) {
    using namespace std::chrono;
    auto sinceEpoch = moment.time_since_epoch();
    auto wholeSeconds = floor<seconds>(sinceEpoch);
    auto milliseconds = duration_cast<std::chrono::milliseconds>(sinceEpoch - wholeSeconds).count();
    std::time_t seconds = static_cast<std::time_t>(wholeSeconds.count());
    std::tm local{};
    localtime_r(&seconds, &local);
    long offsetMinutes = local.tm_gmtoff / 60;
    char sign = offsetMinutes < 0 ? '-' : '+';
    if (offsetMinutes < 0) {
        offsetMinutes = -offsetMinutes;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(milliseconds), sign, offsetMinutes / 60, offsetMinutes % 60);
    return text;
}

Logger::Logger(std::string label, LogLevels logThreshold, std::optional<std::filesystem::path> filePath)
    : loggerLabel(std::move(label)), threshold(logThreshold) {
    if (filePath) {
        fileStream = std::make_unique<FileStream>(std::move(*filePath));
    }
}

void Logger::commonLog(LogLevels level, std::string_view message) {
    if (level < threshold) {
        return;
    }
    std::string_view name = levelName(level);
    std::string line;
    line.reserve(message.size() + name.size() + 40);
    line.push_back('[');
    line.append(formatLogTimestamp(std::chrono::system_clock::now()));
    line.append("] ");
    line.append(name);
    line.append(": ");
    line.append(message);

    printLine(line);
    std::shared_ptr<const LogCaptureSink> sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = captureSink;
    }
    if (sink) {
        (*sink)(level, line);
    }
    if (fileStream) {
        fileStream->write(line);
    }
}

void Logger::setCaptureSink(LogCaptureSink sink) {
    std::shared_ptr<const LogCaptureSink> installed;
    if (sink) {
        installed = std::make_shared<const LogCaptureSink>(std::move(sink));
    }
    std::lock_guard lock(sinkMutex);
    captureSink = std::move(installed);
}

void Logger::flush() {
    if (fileStream) {
        fileStream->flush();
    }
}

Logger& logger() {
    static Logger instance("Socket Logger", LogLevels::info, logFilePath());
    return instance;
}

tl::expected<void, std::string> prepareLogFile() {
    return prepareLogFile(logger().stream()->filePath());
}

}  // namespace brisel::common
