#include "common/line_batcher.h"

#include <utility>

namespace brisel::common {

LineBatcher::LineBatcher(std::string queueLabel, QualityOfService quality, Writer batchWriter,
                         std::size_t pendingLimitBytes)
    : writer(std::move(batchWriter)),
      pendingLimit(pendingLimitBytes),
      queue(std::move(queueLabel), quality) {}

LineBatcher::~LineBatcher() {
    flush();
}

void LineBatcher::add(std::string_view line) {
    append(line, "\n", 1);
}

void LineBatcher::addLines(std::string_view lines, std::uint64_t count) {
    if (count > 0) {
        append(lines, "", count);
    }
}

void LineBatcher::append(std::string_view lines, std::string_view lineEnd, std::uint64_t count) {
    bool wake = false;
    {
        std::lock_guard lock(mutex);
        // Once a line has been left out, so is every later one until the writer takes the waiting
        // lines: the writer's note on the missed lines then stands where they were.
        if (leftOut > 0 ||
            (!pending.empty() && pending.size() + lines.size() + lineEnd.size() > pendingLimit)) {
            leftOut += count;
            return;
        }
        pending.append(lines);
        pending.append(lineEnd);
        // The pass that writes these lines is queued by this caller alone; until it has run, later
        // callers only add to `pending`.
        wake = !std::exchange(writeScheduled, true);
    }
    if (wake) {
        queue.async([this] { writeWhileBusy(); });
    }
}

void LineBatcher::flush() {
    std::unique_lock lock(mutex);
    if (!writeScheduled) {
        return;  // nothing is waiting while no batch is on its way
    }
    const std::uint64_t request = ++flushRequests;
    flushRequested.notify_one();
    flushServed.wait(lock, [&] { return flushesServed >= request || !writeScheduled; });
}

void LineBatcher::writeWhileBusy() {
    std::unique_lock lock(mutex);
    for (;;) {
        std::string lines;
        lines.swap(pending);
        const std::uint64_t missed = std::exchange(leftOut, 0);
        const std::uint64_t requestsSeen = flushRequests;
        lock.unlock();
        if (!lines.empty()) {
            writer(lines, missed);
        }
        lock.lock();
        flushesServed = requestsSeen;
        const bool quiet = lines.empty() && pending.empty();
        if (quiet) {
            writeScheduled = false;  // the next add queues a new pass
        }
        flushServed.notify_all();
        if (quiet) {
            return;
        }
        // Adds meanwhile only extend `pending`; a flush cuts the pause short.
        flushRequested.wait_for(lock, kLineBatchFollowUp, [&] { return flushRequests != requestsSeen; });
    }
}

}  // namespace brisel::common
