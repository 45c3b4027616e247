// The log file's stream: appends lines in call order on a queue of its own and keeps the file
// near 100 MiB.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

#include "common/line_batcher.h"

namespace brisel::common {

// A file past this size (100 MiB) is trimmed after the append that made it so.
inline constexpr std::uint64_t kLogFileSizeLimit = 104'857'600;
// A trim drops at least this many characters from the start of the file.
inline constexpr std::size_t kLogTrimCharacters = 1'048'576;
// When dropping kLogTrimCharacters would leave the file above kLogFileSizeLimit (an append of more
// than that made it grow), a trim leaves it this many bytes (1 MiB) below the limit instead.
inline constexpr std::uint64_t kLogTrimHeadroomBytes = 1'048'576;
// A trim that comes within kLogBurstTrimWindow of the one before drops enough to leave the file at
// least kLogBurstTrimHeadroomBytes (16 MiB) below the limit, so that a burst of lines at the limit
// costs a copy of the file per 16 MiB logged instead of per MiB.
inline constexpr std::chrono::seconds kLogBurstTrimWindow{60};
inline constexpr std::uint64_t kLogBurstTrimHeadroomBytes = 16U * 1'048'576U;
// Lines waiting for the file beyond this many bytes (8 MiB) are left out.
inline constexpr std::size_t kLogFilePendingLimit = 8U * 1024U * 1024U;

// Appends the lines given to write() to one file. Appends and trims run one at a time on the
// stream's serial queue "com.velko.brisel_core.LogFileQueue", in the order of the write() calls, in
// batches (see LineBatcher): lines that arrive while an append runs go to the file together in the
// next append. A trim soon after the one before drops more (see kLogBurstTrimWindow). While
// `pendingLimitBytes` wait, later lines are left out until the queue has taken the
// waiting ones; a log line at level error then stands in their place and says how many. Every problem
// with the file is reported on standard output only; nothing fails towards the caller.
class FileStream {
  public:
    explicit FileStream(std::filesystem::path filePath, std::size_t pendingLimitBytes = kLogFilePendingLimit);
    // Appends what is still pending, then stops the queue.
    ~FileStream() = default;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    const std::filesystem::path& filePath() const { return path; }
    // Queues one finished line (without its line end; "\n" is added). Returns at once; any thread.
    void write(std::string_view line) { batcher.add(line); }
    // Queues `count` finished lines, each with its "\n" already added. Returns at once; any thread.
    void writeLines(std::string_view lines, std::uint64_t count) { batcher.addLines(lines, count); }
    // Waits until every line written before the call has been appended (and trimmed). Any thread
    // but the stream's own queue.
    void flush() { batcher.flush(); }

  private:
    // On the queue: appends the lines (and the note on `linesLeftOutAfter` lines) and trims the file.
    void appendLines(const std::string& lines, std::uint64_t linesLeftOutAfter);

    const std::filesystem::path path;
    std::optional<std::chrono::steady_clock::time_point> lastTrim;  // on the stream's queue only
    LineBatcher batcher;                                            // last member: drained first
};

// Appends the bytes to the file: opens it for appending, or when it does not exist creates it
// atomically with the bytes as its content. Errors: the system's description.
tl::expected<void, std::string> appendToFile(const std::filesystem::path& file, std::string_view bytes);

// Replaces the file's content with `bytes` atomically (a temporary file in the same folder,
// renamed into place). Errors: the system's description.
tl::expected<void, std::string> writeFileAtomically(const std::filesystem::path& file,
                                                    std::string_view bytes);

// How much a trim drops: the least (a mebi-character), or as much as a burst of lines needs.
enum class LogTrimDepth { least, burst };

// When the file is larger than kLogFileSizeLimit, drops its first kLogTrimCharacters characters
// (see byteOffsetAfterCharacters: invalid bytes count one each), or, when that would leave more than
// kLogFileSizeLimit, everything before the first character that starts at or after
// size - kLogFileSizeLimit + kLogTrimHeadroomBytes; then atomically rewrites the rest unchanged. The
// file is at most kLogFileSizeLimit afterwards. At the `burst` depth it drops at least everything
// before the first character that starts at or after size - kLogFileSizeLimit +
// kLogBurstTrimHeadroomBytes. Prints the failure messages of the log on standard output. Returns
// whether the file was trimmed.
bool trimLogFileIfTooLarge(const std::filesystem::path& file, LogTrimDepth depth = LogTrimDepth::least);

// Creates the log folder with its missing parents, then replaces the log file by an empty one.
// Done once at start-up, before anything is logged. Failures are printed on standard output (the
// log then goes to standard output only) and returned.
tl::expected<void, std::string> prepareLogFile(const std::filesystem::path& file);

}  // namespace brisel::common
