#include "common/logger.h"

#include <array>
#include <ctime>
#include <utility>

#include "common/paths.h"
#include "common/standard_output.h"

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

namespace {

// The logger whose lines the calling thread holds (see HeldLogLines), or null.
thread_local Logger* heldLogger = nullptr;

// "yyyy-MM-ddTHH:mm:ss.SSS+hhmm"
constexpr std::size_t kLogTimestampLength = 28;

// Writes `value` (0 <= value < 10^digits) as exactly `digits` decimal digits, with leading zeros.
char* putDigits(char* out, long value, int digits) {
    for (int position = digits - 1; position >= 0; --position) {
        out[position] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

// Appends the time stamp of `moment` to `text`. Every line carries one, so it is written digit by
// digit, at a fraction of the cost of a formatted print.
void appendLogTimestamp(std::string& text, std::chrono::system_clock::time_point moment) {
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
    // The clock counts nanoseconds in 64 bits: every moment lies between the years 1677 and 2262.
    const long year = static_cast<long>(local.tm_year) + 1900;
    std::array<char, kLogTimestampLength> stamp{};
    char* out = stamp.data();
    out = putDigits(out, year, 4);
    *out++ = '-';
    out = putDigits(out, local.tm_mon + 1, 2);
    *out++ = '-';
    out = putDigits(out, local.tm_mday, 2);
    *out++ = 'T';
    out = putDigits(out, local.tm_hour, 2);
    *out++ = ':';
    out = putDigits(out, local.tm_min, 2);
    *out++ = ':';
    out = putDigits(out, local.tm_sec, 2);
    *out++ = '.';
    out = putDigits(out, static_cast<long>(milliseconds), 3);
    *out++ = sign;
    out = putDigits(out, offsetMinutes / 60, 2);
    putDigits(out, offsetMinutes % 60, 2);
    text.append(stamp.data(), kLogTimestampLength);
}

}  // namespace

std::string formatLogTimestamp(std::chrono::system_clock::time_point moment) {
    std::string text;
    appendLogTimestamp(text, moment);
    return text;
}

Logger::Logger(std::string label, LogLevels logThreshold, std::optional<std::filesystem::path> filePath)
    : loggerLabel(std::move(label)), threshold(logThreshold) {
    standardOutput();  // created first, so that it outlives the global logger, whose file may still print
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
    // "[" + time stamp + "] " + name + ": " + message
    line.reserve(1 + kLogTimestampLength + 2 + name.size() + 2 + message.size());
    line.push_back('[');
    appendLogTimestamp(line, std::chrono::system_clock::now());
    line.append("] ");
    line.append(name);
    line.append(": ");
    line.append(message);

    std::shared_ptr<const LogCaptureSink> sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = captureSink;
    }
    if (sink) {
        (*sink)(level, line);
    }
    if (heldLogger == this) {
        hold(line);
    } else {
        handOver(&line);
    }
}

void Logger::hold(std::string_view line) {
    bool overLimit = false;
    {
        std::lock_guard lock(heldMutex);
        heldLines.append(line);
        heldLines.push_back('\n');
        ++heldCount;
        linesHeld.store(true, std::memory_order_release);
        overLimit = heldLines.size() > kHeldLogLinesLimit;
    }
    if (overLimit) {
        handOver(nullptr);
    }
}

void Logger::handOver(const std::string* line) {
    std::lock_guard order(handOverMutex);
    if (linesHeld.load(std::memory_order_acquire)) {
        std::string lines;
        std::uint64_t count = 0;
        {
            std::lock_guard lock(heldMutex);
            lines.swap(heldLines);
            count = std::exchange(heldCount, 0);
            linesHeld.store(false, std::memory_order_relaxed);
        }
        standardOutput().printLines(lines, count);
        if (fileStream) {
            fileStream->writeLines(lines, count);
        }
    }
    if (line != nullptr) {
        printLine(*line);
        if (fileStream) {
            fileStream->write(*line);
        }
    }
}

Logger::~Logger() {
    handOver(nullptr);
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
    handOver(nullptr);
    if (fileStream) {
        fileStream->flush();
    }
    // Last: the file's own failure messages are printed on standard output.
    standardOutput().flush();
}

HeldLogLines::HeldLogLines(Logger& logger) : heldBy(logger), heldBefore(std::exchange(heldLogger, &logger)) {}

HeldLogLines::~HeldLogLines() {
    heldLogger = heldBefore;
    release();
}

Logger& logger() {
    static Logger instance("Socket Logger", LogLevels::info, logFilePath());
    return instance;
}

tl::expected<void, std::string> prepareLogFile() {
    return prepareLogFile(logger().stream()->filePath());
}

}  // namespace brisel::common
