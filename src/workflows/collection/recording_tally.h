// What became of the packets and segments of one recording: how many segments are still being saved
// or uploaded, how each of the others ended, and how many packets were lost on the way to the disk.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace brisel::workflows {

// How one saved segment ended.
enum class SegmentOutcome {
    notSaved,     // the save handed nothing over (no file)
    uploaded,     // the cloud holds it
    failed,       // every try failed: the file is kept for a collection sync
    empty,        // it held no packet: not uploaded (the uploader told the cloud)
    unreadable,   // it could not be read: not uploaded (the uploader told the cloud)
    keptForSync,  // the service is stopping: not uploaded, kept for a collection sync
};

// Shared by the recording, its savers and the completions of its uploads, which may end after the
// recording. All members may be called from any thread.
class RecordingTally {
  public:
    struct Counts {
        int inFlight = 0;
        int uploaded = 0;
        int failed = 0;
        int empty = 0;
        int unreadable = 0;
        int keptForSync = 0;
        // Valid packets that could not be written to the files of the saved segments.
        std::int64_t packetsLost = 0;
    };

    // A save has begun: its segment is in flight until segmentEnded().
    void segmentStarted();
    // A segment was saved with `packetsLost` packets that did not reach its file.
    void segmentSaved(std::int64_t packetsLost);
    // A segment's upload ended (or its save handed nothing over) with `outcome`.
    void segmentEnded(SegmentOutcome outcome);

    Counts counts() const;
    // Waits until no segment is in flight, or `deadline` passes; true when none is.
    bool waitUntilSettled(std::chrono::steady_clock::time_point deadline) const;

  private:
    mutable std::mutex mutex;
    mutable std::condition_variable settled;
    Counts tally;  // guarded by mutex
};

// What went wrong with a recording, as one text for the collection's status in the cloud and for the
// browser ("Data collection ended with errors: ..." and what to do); none when no packet was lost and
// every segment reached the cloud. Pure.
std::optional<std::string> recordingProblems(const RecordingTally::Counts& counts);

}  // namespace brisel::workflows
