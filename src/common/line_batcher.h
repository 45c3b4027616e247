// Lines handed over from any thread and written in the order of the calls, in batches, by a serial
// queue of their own: what the log's two outputs (its file and standard output) have in common.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>

#include "common/dispatch.h"

namespace brisel::common {

// How long after a batch the queue looks for the lines added meanwhile.
inline constexpr std::chrono::milliseconds kLineBatchFollowUp{2};

// Collects lines and hands them to its writer on its serial queue, one batch at a time, in the order
// of the add() calls. Lines that arrive while a batch is being written go together into the next one.
// After a batch the queue looks again kLineBatchFollowUp later and writes what came meanwhile, until a
// look finds nothing: only the first line after a quiet spell wakes the queue, so that a busy caller
// (the websocket thread logs every message) never waits for the writer and does not pay for waking
// another thread on each line.
//
// A batcher with a limit keeps at most that many bytes waiting: when a line does not fit, it and the
// lines after it are left out until the writer takes the waiting lines, and the writer is told how
// many it missed right after that batch.
//
// A caller wakes the queue only after it has let go of the batcher's lock, so the woken queue never
// blocks on that lock and needs no second wake-up.
class LineBatcher {
  public:
    // Called on the batcher's queue, one call at a time: `lines` are the lines of one batch, each with
    // "\n" added, in the order of the add() calls (never empty); `linesLeftOutAfter` counts the lines
    // that were left out right after them (0 without a limit).
    using Writer = std::function<void(const std::string& lines, std::uint64_t linesLeftOutAfter)>;

    static constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

    LineBatcher(std::string queueLabel, QualityOfService quality, Writer writer,
                std::size_t pendingLimitBytes = kNoLimit);
    // Writes what is still waiting, then stops the queue.
    ~LineBatcher();
    LineBatcher(const LineBatcher&) = delete;
    LineBatcher& operator=(const LineBatcher&) = delete;

    // Queues one line (without its line end). Returns at once; any thread, the writer included.
    void add(std::string_view line);
    // Queues `count` lines at once: `lines` holds them each with its "\n" already added. Left out
    // together when they do not fit under the limit. Returns at once; any thread, the writer included.
    void addLines(std::string_view lines, std::uint64_t count);
    // Waits until every line added before the call has been handed to the writer and the writer has
    // returned. Any thread but the batcher's own queue (the writer must not call it).
    void flush();

  private:
    // Appends `count` lines and `lineEnd` when they fit, or counts them as left out; queues a writing
    // pass when none is on its way.
    void append(std::string_view lines, std::string_view lineEnd, std::uint64_t count);
    // On the queue while lines keep coming: writes what is waiting, pauses kLineBatchFollowUp (less
    // when a flush asks) and goes on until a pass finds nothing.
    void writeWhileBusy();

    const Writer writer;
    const std::size_t pendingLimit;
    std::mutex mutex;
    std::string pending;              // lines not yet written; guarded by mutex
    std::uint64_t leftOut = 0;        // lines left out after `pending`; guarded by mutex
    bool writeScheduled = false;      // writeWhileBusy is queued or running; guarded by mutex
    std::uint64_t flushRequests = 0;  // flush() calls so far; guarded by mutex
    std::uint64_t flushesServed = 0;  // the requests whose lines are written; guarded by mutex
    std::condition_variable flushRequested;
    std::condition_variable flushServed;
    SerialQueue queue;  // last member: destroyed (drained) first
};

}  // namespace brisel::common
