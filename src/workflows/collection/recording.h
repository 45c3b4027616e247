// One recording of a data collection: the loop that records an opened board for the request's length,
// the savers that hand its segments to the collection's uploads, the gate through which the cloud's
// answer to the start begins it, its clock, and the tally of what became of its packets.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "cloud/authorization.h"
#include "cloud/streaming_uploader.h"
#include "device/boards/brisel_device_base.h"
#include "device/boards/device_status.h"
#include "workflows/collection/collection_reporter.h"
#include "workflows/collection/recording_tally.h"
#include "workflows/collection/segment_uploads.h"

namespace brisel::workflows {

// Starts one saver of a recording, which runs `save` once on a thread of its own choosing.
using SaverStart = std::function<void(std::function<void()> save)>;

// How the recordings that begin from now on start their savers: on the global queue of default
// priority unless replaced (tests give their savers a slow start); an empty one restores that queue.
// Any thread.
void setSaverStart(SaverStart start);

// What ends one recording early, set from other threads; each collection has its own.
struct RecordingStop {
    // The browser connection of the collection closed.
    std::atomic<bool> connectionClosed{false};
};

// Lengths are in seconds of the request ("num_instances"); every fixed wait and the recording clock
// follow common::timeScale(), and the clock is the steady one. Runs on the thread of its collection's
// workflow; the savers and the cloud's completions run on global queues and keep what they use. While
// it exists it is one of the RunningRecordings.
class Recording {
  public:
    // `reporter` carries the collection id. `stop` must outlive the recording.
    Recording(CollectionReporter reporter, std::shared_ptr<device::BriselDeviceBase> board,
              std::shared_ptr<cloud::StreamingUploader> uploader, std::int64_t collectionID,
              std::int64_t numInstances, const RecordingStop& stop);
    // Closes the start gate: an answer that comes later changes nothing.
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Resets the board, announces the start to the cloud and records for "num_instances" seconds,
    // counted from the cloud's acknowledgement of the start (from the reset when the announcement
    // failed), saving a segment every 10 seconds; nothing is saved before the cloud answered. Returns
    // the board's state at the end: DEVICE_OK after a whole recording, whose end is reported to the
    // cloud and the browser once no upload is in flight (DONE, or ERROR with what was lost or is left
    // for a collection sync; when the only problem was uploads that outlived the wait and they all
    // succeed, the cloud is told DONE after them); DEVICE_DISCONNECTED when the board, its link or the
    // browser connection went away (what was recorded is saved and uploaded); DEVICE_NOT_TRANSMITTING_DATA.
    // Blocks the calling thread; call once.
    device::DeviceStatus run();

    // For a service that is stopping: keeps the current file as a segment on the disk for a collection
    // sync, and starts no further upload. Any thread; returns once the file is on the disk.
    void keepForExit();

  private:
    class StartGate;
    class SaverGate;

    // Ends the board's reading (keeping the recorded file), closes the board and reports `status`.
    // Only the first call does anything.
    void deviceDisconnected(frame::BriselDataCollectionResponseStatus status);
    // Announces the start to the cloud; its acknowledgement begins the recording again while the gate
    // is open (`restartOnAcknowledgement`).
    void notifyStart(bool restartOnAcknowledgement);
    // Saves the current file as a segment and hands it to the uploads, on the calling thread.
    void saveSegment();
    // The same through the saver start; the loop goes on at once.
    void startSaver();
    // Waits until the savers started have saved, for at most 60 s, and lets none save afterwards;
    // true when all of them had.
    bool endSavers();
    // For an ERROR end while saves or uploads still ran (`atEnd`): what reports the collection DONE
    // to the cloud of `access` once they have all ended well; nothing when none ran.
    std::function<void()> doneAfterLateUploads(const RecordingTally::Counts& atEnd,
                                               const cloud::CloudAccess& access) const;
    // Waits until no segment is being saved or uploaded, for at most 60 s.
    void waitForUploads() const;
    // The end of a whole recording: the end of the board's reading, the savers it started, the last
    // segment, the board's file deleted, the upload wait and the reports of the outcome.
    device::DeviceStatus finish(std::int64_t saves);
    std::int64_t packetsInFile() const;

    const CollectionReporter reporter;
    const std::shared_ptr<device::BriselDeviceBase> board;
    const std::shared_ptr<cloud::StreamingUploader> uploader;
    const std::int64_t collectionID;
    const std::int64_t numInstances;
    const RecordingStop& stop;
    const std::shared_ptr<RecordingTally> tally;
    const std::shared_ptr<SegmentUploads> uploads;
    const std::shared_ptr<StartGate> gate;
    const std::shared_ptr<SaverGate> savers;
    const SaverStart saverStart;
    // Set by the loop and by the board's disconnect event, which may come after the recording.
    const std::shared_ptr<std::atomic<bool>> boardDisconnected;
    bool disconnectReported = false;
};

}  // namespace brisel::workflows
