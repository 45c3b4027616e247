// The log file's stream: appends lines in call order on a queue of its own and keeps the file
// near 100 MiB.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

#include "common/line_batcher.h"

namespace brisel::common {

// A file past this size (100 MiB) is trimmed after the append that made it so.
inline constexpr std::uint64_t kLogFileSizeLimit = 104'857'600;
// A trim drops this many characters from the start of the file.
inline constexpr std::size_t kLogTrimCharacters = 1'048'576;
// Appends the lines given to write() to one file. Appends and trims run one at a time on the
// stream's serial queue "com.velko.brisel_core.LogFileQueue", in the order of the write() calls, in
// batches (see LineBatcher): lines that arrive while an append runs go to the file together in the
// next append. Every problem with the file is reported on standard output only; nothing fails
// towards the caller.
class FileStream {
  public:
    explicit FileStream(std::filesystem::path filePath);
    // Appends what is still pending, then stops the queue.
    ~FileStream() = default;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    const std::filesystem::path& filePath() const { return path; }
    // Queues one finished line (without its line end; "\n" is added). Returns at once; any thread.
    void write(std::string_view line) { batcher.add(line); }
    // Waits until every line written before the call has been appended (and trimmed). Any thread
    // but the stream's own queue.
    void flush() { batcher.flush(); }

  private:
    // On the queue: appends the lines and trims the file.
    void appendLines(const std::string& lines);

    const std::filesystem::path path;
    LineBatcher batcher;  // last member: drained first
};

// Appends the bytes to the file: opens it for appending, or when it does not exist creates it
// atomically with the bytes as its content. Errors: the system's description.
tl::expected<void, std::string> appendToFile(const std::filesystem::path& file, std::string_view bytes);

// Replaces the file's content with `bytes` atomically (a temporary file in the same folder,
// renamed into place). Errors: the system's description.
tl::expected<void, std::string> writeFileAtomically(const std::filesystem::path& file,
                                                    std::string_view bytes);

// When the file is larger than kLogFileSizeLimit, drops its first kLogTrimCharacters characters
// (see byteOffsetAfterCharacters: invalid bytes count one each) and atomically rewrites the rest
// unchanged. Prints the failure messages of the log on standard output.
void trimLogFileIfTooLarge(const std::filesystem::path& file);

// Creates the log folder with its missing parents, then replaces the log file by an empty one.
// Done once at start-up, before anything is logged. Failures are printed on standard output (the
// log then goes to standard output only) and returned.
tl::expected<void, std::string> prepareLogFile(const std::filesystem::path& file);

}  // namespace brisel::common
