#include "workflows/collection/recording_tally.h"

namespace brisel::workflows {

void RecordingTally::segmentStarted() {
    std::lock_guard lock(mutex);
    ++inFlight;
}

void RecordingTally::segmentEnded() {
    std::lock_guard lock(mutex);
    --inFlight;
    if (inFlight == 0) {
        settled.notify_all();
    }
}

int RecordingTally::segmentsInFlight() const {
    std::lock_guard lock(mutex);
    return inFlight;
}

bool RecordingTally::waitUntilSettled(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(mutex);
    return settled.wait_until(lock, deadline, [this] { return inFlight == 0; });
}

}  // namespace brisel::workflows
