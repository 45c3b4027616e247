// What became of the segments of one recording: how many are still being saved or uploaded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace brisel::workflows {

// Shared by the recording, its savers and the completions of its uploads, which may end after the
// recording. All members may be called from any thread.
class RecordingTally {
  public:
    // A save has begun: its segment is in flight until segmentEnded().
    void segmentStarted();
    // A segment's upload ended, or its save handed nothing over.
    void segmentEnded();

    // Segments whose save or upload has not ended.
    int segmentsInFlight() const;
    // Waits until no segment is in flight, or `deadline` passes; true when none is.
    bool waitUntilSettled(std::chrono::steady_clock::time_point deadline) const;

  private:
    mutable std::mutex mutex;
    mutable std::condition_variable settled;
    int inFlight = 0;  // guarded by mutex
};

}  // namespace brisel::workflows
