// What became of the packets and segments of one recording: how many saves are still to hand their
// segments over, how many segments are still uploading, how each of the others ended, and how many
// packets were lost on the way to the disk.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace brisel::workflows {

// How the upload of one saved segment ended.
enum class SegmentOutcome {
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
        // Segments handed over whose upload has not ended.
        int inFlight = 0;
        int uploaded = 0;
        int failed = 0;
        int empty = 0;
        int unreadable = 0;
        int keptForSync = 0;
        // Valid packets that could not be written to the disk.
        std::int64_t packetsLost = 0;
        // Saves begun that have not handed their segments over yet.
        int saving = 0;
    };

    // Called once with the counts at the moment the last save and upload in flight ended, on the
    // thread that ended it.
    using Settled = std::function<void(const Counts&)>;

    // A save has begun: it counts until saveEnded(), after it handed its segments over.
    void saveStarted();
    void saveEnded();
    // The saves still counted will never hand anything over: they count no more.
    void savesAbandoned();
    // A segment was handed over: it is in flight until uploadEnded().
    void uploadStarted();
    void uploadEnded(SegmentOutcome outcome);
    // The recording lost `packets` packets in all.
    void setPacketsLost(std::int64_t packets);

    Counts counts() const;
    // Waits until no save is running, or `deadline` passes; true when none is.
    bool waitUntilSaved(std::chrono::steady_clock::time_point deadline) const;
    // Waits until no save is running and no segment is in flight, or `deadline` passes; true when
    // none is.
    bool waitUntilSettled(std::chrono::steady_clock::time_point deadline) const;
    // Calls `settled` once no save is running and no segment is in flight: at once (on the calling
    // thread) when none is, otherwise when the last of them ends. It replaces one kept before.
    void whenSettled(Settled settled);

  private:
    // Applies `update`, which ends one save or upload, and calls the kept `Settled` when nothing is
    // running any more. Takes the lock.
    void ended(const std::function<void(Counts&)>& update);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Counts tally;  // guarded by mutex
    Settled kept;  // guarded by mutex
};

// What went wrong with a recording, as one text for the collection's status in the cloud and for the
// browser ("Data collection ended with errors: ..." and what to do); none when no packet was lost and
// every segment reached the cloud. Pure.
std::optional<std::string> recordingProblems(const RecordingTally::Counts& counts);

}  // namespace brisel::workflows
