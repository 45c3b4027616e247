// What the service keeps of a flashing tool's output while the tool runs: a tool may write for minutes,
// so only the end of it is held, together with what the judgement of the run needs of the whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

namespace brisel::workflows {

class ToolOutputTail {
  public:
    // Keeps the last `limit` bytes (at least `watched`'s length) and notes whether `watched` appeared
    // anywhere in the output, also in a part no longer kept or across two chunks.
    ToolOutputTail(std::size_t limit, std::string watched);

    // Adds the next chunk of output. Any thread; calls are serialised.
    void append(std::span<const std::uint8_t> chunk);

    struct Kept {
        // The last bytes of the output, at most `limit`; when the output was cut, starting at the first
        // whole UTF-8 character of them.
        std::string text;
        std::uint64_t totalBytes = 0;  // every byte the tool wrote
        bool watchedSeen = false;
        bool cut() const { return totalBytes > text.size(); }
    };
    // What was kept so far. Any thread.
    Kept kept() const;

  private:
    const std::size_t limit;
    const std::string watched;
    mutable std::mutex mutex;
    std::string bytes;             // guarded by mutex; the end of the output, at most twice `limit`
    std::uint64_t totalBytes = 0;  // guarded by mutex
    bool watchedSeen = false;      // guarded by mutex
};

}  // namespace brisel::workflows
