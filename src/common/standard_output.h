// The service's standard output, which the tray application reads and echoes: whole lines in the
// order of the calls, written by a queue of their own so that no caller waits for the reader.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "common/line_batcher.h"

namespace brisel::common {

// Lines waiting beyond this many bytes (8 MiB) are left out while standard output is not being read.
inline constexpr std::size_t kStandardOutputPendingLimit = 8U * 1024U * 1024U;

// Prints lines to a stdio stream on the serial queue "com.velko.brisel_core.StandardOutputQueue", in
// batches (see LineBatcher), each batch as one locked write and flush of the stream. A reader that
// stops reading (a full pipe) holds up only that queue; once kStandardOutputPendingLimit bytes wait,
// later lines are left out until the queue can write again, and a line saying how many follows the
// lines that were printed. Write errors are ignored (there is nowhere left to report them).
class StandardOutput {
  public:
    explicit StandardOutput(std::FILE* output, std::size_t pendingLimitBytes = kStandardOutputPendingLimit);
    // Prints what is still waiting.
    ~StandardOutput() = default;
    StandardOutput(const StandardOutput&) = delete;
    StandardOutput& operator=(const StandardOutput&) = delete;

    // Queues `line` (without its line end; "\n" is added). Returns at once; any thread.
    void print(std::string_view line) { batcher.add(line); }
    // Queues `count` lines, each with its "\n" already added. Returns at once; any thread.
    void printLines(std::string_view lines, std::uint64_t count) { batcher.addLines(lines, count); }
    // Waits until every line queued before the call has been written to the stream and flushed. Any
    // thread but the output's own queue.
    void flush() { batcher.flush(); }

  private:
    void writeBatch(const std::string& lines, std::uint64_t linesLeftOutAfter);

    std::FILE* const output;
    LineBatcher batcher;  // last member: drained first
};

// The process's standard output (`stdout`). Created on first use (thread-safe) and kept until the
// process ends; whatever is created after it and prints from its destructor must call this first.
StandardOutput& standardOutput();

// Prints one line (plus "\n") on the process's standard output: standardOutput().print(line).
void printLine(std::string_view line);

}  // namespace brisel::common
