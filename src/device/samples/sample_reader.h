// Records what a board sends during a data collection: one owned loop thread takes bytes from one link
// (`ByteSource`), cuts them into sample packets, and appends every packet that parses to the current
// `SampleFile`; packets that fail are dropped and counted. The board object switches the reader to a
// fresh file whenever it saves the current one as a segment for upload. A file always holds one
// unbroken run of packets: a write error (a full disk) ends it as a segment, and the packets lost
// until writes succeed again are the gap before the next file.
#pragma once

#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <tl/expected.hpp>

#include "common/device_kind.h"
#include "device/samples/byte_source.h"
#include "device/samples/packet_cutter.h"
#include "device/samples/sample.h"
#include "device/samples/sample_file.h"

namespace brisel::device {

struct SampleReaderOptions {
    // A link that delivers no new byte for this long has lost its board (`MAX_WAIT`).
    std::chrono::milliseconds silenceLimit{2000};
    // Pause after each pass that had bytes, so that bytes gather into larger reads (1/1280 s).
    std::chrono::microseconds passPause{781};
    // A header without a footer is given up past this many bytes.
    std::size_t maxPacketBytes = Sample::maxSampleBytes();
    // Renames a saved file without replacing another (a seam for tests).
    RenameNoReplace renameNoReplace = device::renameNoReplace;
};

// A saved segment: the file handed to the uploader and the index of its first packet in the recording.
struct SavedSegment {
    std::filesystem::path path;
    std::int64_t firstPacketIndex = 0;
    // Packets in the file.
    std::int64_t packetCount = 0;
};

enum class SegmentError {
    noRecordingFile,  // no file was begun; nothing to save
    keptForSync,      // the reader kept its file for a later sync (keepForSync): nothing more is saved
    allPacketsLost,   // every packet received for the file could not be written: nothing to hand over
};

// Takes a saved segment over, for example `StreamingUploader::process(path, firstPacketIndex, ...)`.
using SegmentHandOver = std::function<void(const SavedSegment&)>;

class SampleReader {
  public:
    // The loop thread's label; the thread carries its last 15 bytes as its name.
    static constexpr std::string_view loopLabel = "com.velko.brisel_core.SampleReaderQueue";
    // Subfolder of the private temporary folder that holds every collection's folder.
    static constexpr std::string_view collectionsFolderName = "velko_brisel_collection";

    // Files go into `<temporaryDirectory>/velko_brisel_collection/<collectionID>/`; no file is created
    // yet. `disconnectEvent` (may be empty) is called on the loop thread when the loop ends on a link
    // failure; it must not call `stop()` or destroy the reader.
    SampleReader(common::DeviceKind deviceKind, std::int64_t collectionID,
                 const std::filesystem::path& temporaryDirectory, std::function<void()> disconnectEvent = {},
                 SampleReaderOptions options = {});
    // Stops the loop (see `stop()`).
    ~SampleReader();
    SampleReader(const SampleReader&) = delete;
    SampleReader& operator=(const SampleReader&) = delete;

    // Starts the loop thread reading `source`. Does nothing while a loop thread exists (running, or
    // ended on a link failure and not yet stopped). Returns at once. Any thread but the loop's.
    void start(std::unique_ptr<ByteSource> source);

    // Ends the loop: interrupts the source, joins the thread (so no read touches the link after it
    // returns), then deletes the current file, which then holds no packet. Idempotent. Any thread but
    // the loop's.
    void stop();

    // Ends the loop like `stop()` but keeps the current file, which can still be saved as a segment.
    // Idempotent. Any thread but the loop's.
    void stopReading();

    // True while a loop thread exists (running, or ended on a link failure and not yet stopped): then
    // `start()` starts nothing. Any thread.
    bool hasLoop() const;

    // Runs `fn` on the calling thread while holding the file lock ("com.velko.brisel_core.SampleReaderLock",
    // a mutex: blocks run one at a time, in no promised order): no packet is written and no file is
    // switched meanwhile. Must not be called while holding the lock. Returns what `fn` returns.
    template <typename Fn>
    decltype(auto) withFileLock(Fn&& fn);
    // True when the calling thread holds the file lock.
    bool holdsFileLock() const { return fileLockOwner_.load() == std::this_thread::get_id(); }

    // Begins a new empty temporary file, named with the index of its first packet
    // (`totalPacketsSaved()`); `OldFile::remove` deletes the current one. The packet count and the
    // packets received since the last save start again from 0. Nothing after keepForSync(). Requires
    // the file lock.
    void setBinaryFileURL(OldFile old);
    // The current file, if one was begun. Requires the file lock.
    std::optional<std::filesystem::path> fileURL() const;
    // Packets written to the current file. Requires the file lock.
    std::int64_t packetCount() const;
    // Valid packets received since the last save: written to the current file, to the files that a
    // write error ended since, or lost. Requires the file lock.
    std::int64_t packetsSinceSave() const;
    // Waits until packetsSinceSave() reaches `count`, or `deadline` passes; true when it does. Must not
    // be called while holding the file lock. Any thread but the loop's.
    bool waitForPacketCount(std::int64_t count, std::chrono::steady_clock::time_point deadline) const;

    // Begins a recording: no saved or lost packets and a fresh file (the old one deleted, and the
    // segments that write errors ended and no save handed over). Takes the file lock.
    void beginRecording();

    // Saves what was recorded since the last save and hands it over. In one file-lock block: takes
    // the segments that write errors ended since the last save, then takes the count of packets in the
    // current file, renames it `sensors_<packets received before>.bin` (keeping the temporary name if
    // that fails, which is logged), adds its packets to `totalPacketsSaved()`, clears
    // `numEmptyPackets()` and begins the next file; a current file whose packets were all lost is
    // deleted instead (`SegmentError::allPacketsLost`) and the next file begins after them. Then
    // calls `handOver` (if set) outside the lock for each ended segment and the current file, in
    // order, and returns once it has returned. The current file's segment, or why it was not handed
    // over. Must not be called while holding the file lock. Any thread.
    tl::expected<SavedSegment, SegmentError> saveSegment(const SegmentHandOver& handOver);

    // Keeps what was recorded for a later collection sync, for a service that is stopping: saves the
    // current file as a segment as saveSegment() does but hands it to nobody (an empty file is deleted
    // instead), puts its bytes and name on the disk, and records nothing more: later packets are
    // dropped, saves and new files do nothing, and stop() leaves the file. The segments that write
    // errors ended stay on the disk under their names too. Returns the current file's segment, or none
    // when it was not kept. Must not be called while holding the file lock. Any thread.
    std::optional<SavedSegment> keepForSync();

    // Packets received (written or lost) since `beginRecording()` before the current file: the index
    // of its first packet, which packets lost while it holds none move on.
    std::int64_t totalPacketsSaved() const { return totalPacketsSaved_.load(); }

    bool running() const { return running_.load(); }
    bool disconnected() const { return disconnected_.load(); }
    bool integrityCheckFailed() const { return integrityCheckFailed_.load(); }
    // Code (1, 2, 4 or 6) of the latest packet that failed, or none.
    std::optional<int> integrityCheckErrorCode() const;
    std::int64_t numPacketsDropped() const { return numPacketsDropped_.load(); }
    std::int64_t numEmptyPackets() const { return numEmptyPackets_.load(); }
    // Valid packets since `beginRecording()` that could not be written (the gaps between segments).
    std::int64_t numPacketsLost() const { return numPacketsLost_.load(); }
    std::int64_t collectionID() const { return collectionID_; }
    common::DeviceKind deviceKind() const { return deviceKind_; }
    const std::filesystem::path& collectionFolder() const { return file_.folder(); }
    std::chrono::milliseconds silenceLimit() const { return options_.silenceLimit; }
    // When the link last delivered new bytes (the reader's creation before the first ones). Any thread.
    std::chrono::steady_clock::time_point lastRead() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(lastReadTicks_.load()));
    }

  private:
    class FileLockHold;

    void loop() noexcept;
    tl::expected<void, PortError> readUntilStopped(PacketCutter& cutter);
    void record(const CutReport& report, const std::vector<std::span<const std::uint8_t>>& accepted);
    void endOnLinkFailure(std::string_view reason);
    // Renames the current file to its segment name and counts its packets as saved. Requires the
    // file lock and a current file.
    SavedSegment renameToSegment();
    // `packets` could not be written: a file that holds packets ends as a segment, and they are the
    // gap before the next one. Requires the file lock.
    void lose(std::int64_t packets, const std::string& error);
    // The first packet after a gap was written to the current file: its index moves past the gap.
    // Requires the file lock.
    void closeGap();

    const common::DeviceKind deviceKind_;
    const std::int64_t collectionID_;
    const std::function<void()> disconnectEvent_;
    const SampleReaderOptions options_;

    std::atomic<bool> running_{false};
    std::atomic<bool> disconnected_{false};
    std::atomic<bool> integrityCheckFailed_{false};
    std::atomic<int> integrityCheckErrorCode_{0};  // 0: none
    std::atomic<std::int64_t> numPacketsDropped_{0};
    std::atomic<std::int64_t> numEmptyPackets_{0};
    std::atomic<std::int64_t> numPacketsLost_{0};
    std::atomic<std::int64_t> totalPacketsSaved_{0};  // written under the file lock
    std::atomic<std::chrono::steady_clock::rep> lastReadTicks_;

    mutable std::mutex lifecycleMutex_;   // serialises start() and stop()
    std::unique_ptr<ByteSource> source_;  // set before the thread starts, reset after it is joined
    std::thread loopThread_;              // guarded by lifecycleMutex_

    mutable std::mutex fileMutex_;
    mutable std::condition_variable packetsWritten_;  // notified under the file lock
    mutable std::atomic<std::thread::id> fileLockOwner_{};
    SampleFile file_;               // guarded by the file lock
    std::int64_t packetCount_ = 0;  // guarded by the file lock
    // Packets lost while the current file held none: its first packet's index lies past them.
    std::int64_t lostBeforeFile_ = 0;        // guarded by the file lock
    std::int64_t packetsSinceSave_ = 0;      // guarded by the file lock
    std::vector<SavedSegment> endedByGaps_;  // guarded by the file lock; not yet handed over
    bool writesFailing_ = false;             // guarded by the file lock; the last write failed
    bool keptForSync_ = false;               // guarded by the file lock
};

// ---- inline definitions

class SampleReader::FileLockHold {
  public:
    explicit FileLockHold(const SampleReader& reader) : reader_(reader), lock_(reader.fileMutex_) {
        reader_.fileLockOwner_.store(std::this_thread::get_id());
    }
    ~FileLockHold() { reader_.fileLockOwner_.store(std::thread::id{}); }
    FileLockHold(const FileLockHold&) = delete;
    FileLockHold& operator=(const FileLockHold&) = delete;

  private:
    const SampleReader& reader_;
    std::lock_guard<std::mutex> lock_;
};

template <typename Fn>
decltype(auto) SampleReader::withFileLock(Fn&& fn) {
    assert(!holdsFileLock());
    FileLockHold hold(*this);
    return std::forward<Fn>(fn)();
}

}  // namespace brisel::device
