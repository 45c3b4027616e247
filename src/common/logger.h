// The service's log: one line per call, to standard output and appended to the log file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
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
// both in the same order, the order of the calls (a thread that holds its lines, see HeldLogLines,
// logs when it hands them over), and in the background, so that the caller waits for neither the
// disk nor the reader of standard output. All members may be called from any thread; logging never
// fails towards the caller.
class Logger {
  public:
    // Opens no file; the file is created by the first append when missing (its folder is not).
    Logger(std::string label, LogLevels threshold, std::optional<std::filesystem::path> filePath);
    // Hands held lines over to the outputs, which then write what they still have.
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

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
    // Waits until every line logged before the call, held lines included, is in the file and on
    // standard output.
    void flush();

  private:
    friend class HeldLogLines;

    // Keeps a line of a holding thread; hands the held lines over once they pass kHeldLogLinesLimit.
    void hold(std::string_view line);
    // Hands the held lines, then `line` (unless null), to both outputs.
    void handOver(const std::string* line);

    const std::string loggerLabel;
    const LogLevels threshold;
    std::mutex sinkMutex;
    std::shared_ptr<const LogCaptureSink> captureSink;  // guarded by sinkMutex
    // Taken for each hand-over, so that both outputs get the lines in one order.
    std::mutex handOverMutex;
    // Guarded by heldMutex, which a holding thread takes only to append to `heldLines`: the lines of
    // holding threads in the order logged, each with its "\n", and how many they are.
    std::mutex heldMutex;
    std::string heldLines;
    std::uint64_t heldCount = 0;
    std::atomic<bool> linesHeld{false};  // whether `heldLines` has lines, readable without the lock
    std::unique_ptr<FileStream> fileStream;
};

// Held lines beyond this many bytes (1 MiB) are handed over by the thread that logs the next one.
inline constexpr std::size_t kHeldLogLinesLimit = 1024U * 1024U;

// While it lives, the lines that the thread which created it logs through `logger` are held: they
// wait, in the order logged, in the logger's one buffer of held lines instead of going to standard
// output and the file, so that logging on that thread wakes no other thread and takes no lock that
// another thread waits for (a capture sink still sees each line at once). They are handed over, in
// the order logged, by `release()`, by the logger's `flush()`, ahead of the next line of a thread that
// does not hold its lines, when more than kHeldLogLinesLimit bytes are held, and when the hold ends.
// Created and destroyed on one thread, which holds one logger's lines at a time; not movable.
class HeldLogLines {
  public:
    explicit HeldLogLines(Logger& logger);
    ~HeldLogLines();
    HeldLogLines(const HeldLogLines&) = delete;
    HeldLogLines& operator=(const HeldLogLines&) = delete;

    // Hands the held lines (of every thread that holds lines of this logger) to the outputs. Any thread.
    void release() { heldBy.handOver(nullptr); }
    // Whether lines are held. Any thread; cheap.
    bool holdsLines() const { return heldBy.linesHeld.load(std::memory_order_acquire); }

  private:
    Logger& heldBy;
    Logger* const heldBefore;  // what the creating thread held before, restored at the end
};

// The one global logger of the service: label "Socket Logger", threshold info, file logFilePath()
// as it is at first use. Created on first use (thread-safe) and kept until the process ends.
Logger& logger();

// Creates the global logger's folder and replaces its file by an empty one (prepareLogFile(path) of
// file_stream.h). The service calls this first thing, before anything is logged.
tl::expected<void, std::string> prepareLogFile();

}  // namespace brisel::common
